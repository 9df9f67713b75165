#include "platform/storage/FindDirectory.h"
#include "platform/storage/Path.h"
#include "platform/support/Locker.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

TEST(Path, BuildsAppendsAndTakesApart)
{
    BPath path("/a//b/", "c/d");
    ASSERT_EQ(path.InitCheck(), B_OK);
    EXPECT_STREQ(path.Path(), "/a/b/c/d");
    EXPECT_STREQ(path.Leaf(), "d");
    EXPECT_EQ(path.Append("/abs"), B_BAD_VALUE);
    EXPECT_EQ(path.Append("e/../f", true), B_OK);
    EXPECT_STREQ(path.Path(), "/a/b/c/d/f");

    BPath parent;
    ASSERT_EQ(path.GetParent(&parent), B_OK);
    EXPECT_STREQ(parent.Path(), "/a/b/c/d");
    BPath root("/");
    EXPECT_EQ(root.GetParent(&parent), B_ENTRY_NOT_FOUND);
    BPath top("/x");
    ASSERT_EQ(top.GetParent(&parent), B_OK);
    EXPECT_STREQ(parent.Path(), "/");

    BPath empty;
    EXPECT_EQ(empty.Path(), nullptr);
    EXPECT_EQ(empty.Append("x"), B_NO_INIT);
    EXPECT_EQ(empty.SetTo(""), B_BAD_VALUE);
}

TEST(FindDirectory, FollowsTheXDGVariablesAndCreatesOnRequest)
{
    char base[] = "/tmp/reelmoth-dirs-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    std::string config = std::string(base) + "/config";
    std::string data = std::string(base) + "/data";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_DATA_HOME", data.c_str(), 1);

    BPath path;
    ASSERT_EQ(find_directory(B_USER_SETTINGS_DIRECTORY, &path), B_OK);
    EXPECT_EQ(std::string(path.Path()), config);
    ASSERT_EQ(find_directory(B_USER_MEDIA_NODES_DIRECTORY, &path, true), B_OK);
    EXPECT_EQ(std::string(path.Path()), data + "/reelmoth/media");
    struct stat st;
    EXPECT_EQ(stat(path.Path(), &st), 0);
    EXPECT_EQ(find_directory(directory_which(-1), &path), B_BAD_VALUE);

    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    setenv("HOME", base, 1);
    ASSERT_EQ(find_directory(B_USER_SETTINGS_DIRECTORY, &path), B_OK);
    EXPECT_EQ(std::string(path.Path()), std::string(base) + "/.config");

    std::string file = std::string(base) + "/file";
    ASSERT_EQ(close(creat(file.c_str(), 0644)), 0);
    EXPECT_EQ(create_directory((file + "/below").c_str(), 0755), B_NOT_A_DIRECTORY);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
    std::string command = std::string("rm -rf ") + base;
    ASSERT_EQ(system(command.c_str()), 0);
}

TEST(Locker, IsRecursiveAndExcludesOtherThreads)
{
    BLocker locker("test");
    ASSERT_TRUE(locker.Lock());
    ASSERT_TRUE(locker.Lock());
    EXPECT_EQ(locker.CountLocks(), 2);
    EXPECT_TRUE(locker.IsLocked());

    status_t other = B_OK;
    std::thread([&] { other = locker.LockWithTimeout(20000); }).join();
    EXPECT_EQ(other, B_TIMED_OUT);
    std::thread([&] { other = locker.LockWithTimeout(0); }).join();
    EXPECT_EQ(other, B_WOULD_BLOCK);

    locker.Unlock();
    EXPECT_TRUE(locker.IsLocked()) << "still held once";
    locker.Unlock();
    EXPECT_FALSE(locker.IsLocked());

    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; i++) {
            BAutolock lock(locker);
            counter++;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

TEST(Locker, PassesToTheNextThreadWhenItsHolderEnds)
{
    BLocker locker("abandoned");
    std::thread([&] { EXPECT_TRUE(locker.Lock()); }).join(); // ends holding it
    EXPECT_EQ(locker.LockWithTimeout(1000000), B_OK);
    EXPECT_TRUE(locker.IsLocked());
    locker.Unlock();
    std::thread([&] { EXPECT_TRUE(locker.Lock()); }).join();
    EXPECT_TRUE(locker.Lock());
    locker.Unlock();
}
