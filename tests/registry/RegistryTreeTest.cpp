#include "registry/RegistryNode.h"

#include "platform/app/Message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

// The default tree, as it is built at a first start.
registry_node* default_tree()
{
    registry_node* root = new registry_node("/");
    root->AddChild(new registry_node("HKEY_CURRENT_CONFIG"));
    registry_node* user = new registry_node("HKEY_CURRENT_USER");
    root->AddChild(user);
    registry_node* software = new registry_node("SOFTWARE");
    user->AddChild(software);
    software->AddChild(new registry_node("Microcrap"));
    registry_node* machine = new registry_node("HKEY_LOCAL_MACHINE");
    root->AddChild(machine);
    software = new registry_node("SOFTWARE");
    machine->AddChild(software);
    software->AddChild(new registry_node("Microsoft"));
    return root;
}

// Field names of a message in their order, joined by commas.
std::string field_names(const BMessage& message)
{
    std::string names;
    const char* name;
    type_code type;
    for (int32 i = 0; message.GetInfo(B_ANY_TYPE, i, &name, &type) == B_OK; i++)
        names += (i > 0 ? "," : "") + std::string(name);
    return names;
}

std::string printed(const registry_node& node)
{
    testing::internal::CaptureStdout();
    node.PrintToStream(0);
    return testing::internal::GetCapturedStdout();
}

// Saves `node` and reads it back the way the root is loaded at start.
registry_node* save_and_load(const registry_node& node)
{
    BMessage stored;
    EXPECT_EQ(node.Save(&stored), B_OK);
    registry_node* loaded = registry_node::FromMessage(nullptr, &stored);
    if (loaded == nullptr)
        return nullptr;
    registry_node* root = new registry_node("");
    *root = *loaded;
    delete loaded;
    return root;
}

} // namespace

TEST(RegistryTree, IsStoredAsNestedMessagesInTheDocumentedForm)
{
    registry_node* root = default_tree();
    registry_node* microcrap =
        root->FindChild("HKEY_CURRENT_USER")->FindChild("SOFTWARE")->FindChild("Microcrap");
    registry_node* scrunch = new registry_node("Scrunch");
    microcrap->AddChild(scrunch);
    uint32 on = 0xFFFFFFFF;
    ASSERT_EQ(scrunch->SetValue("Force Post Process Mode", REG_DWORD, &on, 4), B_OK);
    ASSERT_EQ(scrunch->SetValue("blob", REG_BINARY, "abc", 3), B_OK);

    BMessage top;
    ASSERT_EQ(root->Save(&top), B_OK);
    EXPECT_EQ(top.what, 0u);
    EXPECT_EQ(field_names(top), "/");
    BMessage key;
    ASSERT_EQ(top.FindMessage("/", &key), B_OK);
    EXPECT_EQ(field_names(key), "HKEY_LOCAL_MACHINE,HKEY_CURRENT_USER,HKEY_CURRENT_CONFIG");
    const char* path[] = {"HKEY_CURRENT_USER", "SOFTWARE", "Microcrap", "Scrunch"};
    for (const char* name : path) {
        BMessage inner;
        ASSERT_EQ(key.FindMessage(name, &inner), B_OK) << name;
        key = inner;
    }
    EXPECT_EQ(field_names(key), " blob, Force Post Process Mode") << "last value first";
    BMessage value;
    ASSERT_EQ(key.FindMessage(" Force Post Process Mode", &value), B_OK);
    EXPECT_EQ(value.GetInt32("type", 0), 4);
    EXPECT_EQ(value.GetInt32("data", 0), -1);
    ASSERT_EQ(key.FindMessage(" blob", &value), B_OK);
    EXPECT_EQ(value.GetInt32("type", 0), 3);
    const void* data;
    ssize_t size;
    ASSERT_EQ(value.FindData("data", B_ANY_TYPE, &data, &size), B_OK);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(memcmp(data, "abc", 3), 0);
    type_code type;
    bool fixedSize = false;
    ASSERT_EQ(value.GetInfo("data", &type, &fixedSize), B_OK);
    EXPECT_EQ(type, B_ANY_TYPE);
    EXPECT_TRUE(fixedSize);

    BMessage empty;
    ASSERT_EQ(registry_node("leaf").Save(&empty), B_OK);
    ASSERT_EQ(empty.FindMessage("leaf", &key), B_OK);
    EXPECT_TRUE(key.IsEmpty());
    delete root;
}

TEST(RegistryTree, KeepsTheOrderOfEveryListThroughSaveAndLoad)
{
    registry_node root("/");
    registry_node* top = new registry_node("top");
    root.AddChild(top);
    for (const char* name : {"c", "a", "b"})
        top->AddChild(new registry_node(name));
    for (int i = 0; i < 5; i++) {
        int32 number = i;
        top->AddValue(new registry_value("v" + std::to_string(4 - i), REG_DWORD, &number, 4));
    }
    top->Children()[0]->AddChild(new registry_node("grandchild"));
    top->Children()[0]->AddValue(new registry_value("x", 7, "xyz", 3));
    // A key whose name begins with a blank, and one with an empty name.
    registry_node* spaced = new registry_node(" spaced");
    spaced->AddValue(new registry_value("inside", REG_SZ, "s", 2));
    spaced->AddChild(new registry_node(" deeper"));
    spaced->AddChild(new registry_node("type"));
    top->AddChild(spaced);
    top->AddChild(new registry_node(""));

    registry_node* loaded = save_and_load(root);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(printed(*loaded), printed(root));
    ASSERT_EQ(loaded->Children().size(), 1u);
    const registry_node* back = loaded->Children()[0];
    std::string order;
    for (const registry_node* child : back->Children())
        order += "[" + child->Name() + "]";
    EXPECT_EQ(order, "[c][a][b][ spaced][]");
    std::string values;
    for (const registry_value* value : back->Values())
        values += value->Name();
    EXPECT_EQ(values, "v4v3v2v1v0");
    EXPECT_EQ(back->Children()[0]->FindChild("grandchild")->Name(), "grandchild");
    EXPECT_NE(back->FindChild(" spaced")->FindValue("inside"), nullptr);
    EXPECT_NE(back->FindChild(" spaced")->FindChild("type"), nullptr);

    delete loaded;

    // A lookup takes the last of equal names (the registry functions never
    // make two), and names differ by case.
    top->AddChild(new registry_node("a"));
    EXPECT_EQ(top->FindChild("a"), top->Children().back());
    EXPECT_EQ(top->FindChild("A"), nullptr);
}

TEST(RegistryTree, StoresDwordsAsFourBytes)
{
    registry_node root("/");
    registry_node* key = new registry_node("key");
    root.AddChild(key);
    const uint8 two[] = {0x34, 0x12};
    const uint8 six[] = {1, 2, 3, 4, 5, 6};
    key->SetValue("short", REG_DWORD, two, 2);
    key->SetValue("long", REG_DWORD, six, 6);
    key->SetValue("none", REG_DWORD, nullptr, 0);

    registry_node* loaded = save_and_load(root);
    ASSERT_NE(loaded, nullptr);
    const registry_node* back = loaded->FindChild("key");
    ASSERT_NE(back, nullptr);
    const registry_value* value = back->FindValue("short");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->Size(), 4u);
    EXPECT_EQ(value->DwordValue(), 0x1234);
    EXPECT_EQ(back->FindValue("long")->Size(), 4u);
    EXPECT_EQ(back->FindValue("long")->DwordValue(), 0x04030201);
    EXPECT_EQ(back->FindValue("none")->DwordValue(), 0);
    delete loaded;
}

TEST(RegistryTree, AMessageThatIsNotARegistryGivesNothing)
{
    auto value_message = [](bool withType, bool withData, type_code dataType) {
        BMessage value;
        if (withType)
            value.AddInt32("type", dataType == B_INT32_TYPE ? 4 : 3);
        if (withData)
            value.AddData("data", dataType, "abcd", 4);
        BMessage key;
        key.AddMessage(" value", &value);
        BMessage root;
        root.AddMessage("/", &key);
        return root;
    };
    BMessage good = value_message(true, true, B_INT32_TYPE);
    registry_node* node = registry_node::FromMessage(nullptr, &good);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->FindValue("value")->DwordValue(), 0x64636261);
    delete node;

    BMessage noType = value_message(false, true, B_ANY_TYPE);
    EXPECT_EQ(registry_node::FromMessage(nullptr, &noType), nullptr);
    BMessage noData = value_message(true, false, B_ANY_TYPE);
    EXPECT_EQ(registry_node::FromMessage(nullptr, &noData), nullptr);
    BMessage badDword;
    {
        BMessage value;
        value.AddInt32("type", 4);
        value.AddData("data", B_ANY_TYPE, "ab", 2);
        BMessage key;
        key.AddMessage(" v", &value);
        badDword.AddMessage("/", &key);
    }
    EXPECT_EQ(registry_node::FromMessage(nullptr, &badDword), nullptr);

    BMessage noKey;
    noKey.AddInt32("not a key", 1);
    EXPECT_EQ(registry_node::FromMessage(nullptr, &noKey), nullptr);
    BMessage onlyValue;
    {
        BMessage value;
        value.AddInt32("type", 4);
        value.AddInt32("data", 1);
        onlyValue.AddMessage(" v", &value);
    }
    EXPECT_EQ(registry_node::FromMessage(nullptr, &onlyValue), nullptr);
    BMessage empty;
    EXPECT_EQ(registry_node::FromMessage(nullptr, &empty), nullptr);
}

TEST(RegistryTree, CopiesDeeplyAndReplacesValuesByName)
{
    registry_node original("orig");
    registry_node* child = new registry_node("child");
    original.AddChild(child);
    child->SetValue("v", REG_SZ, "one", 4);
    ASSERT_EQ(child->SetValue("v", REG_SZ, "two", 4), B_OK);
    ASSERT_EQ(child->Values().size(), 1u) << "one value of a name";
    EXPECT_STREQ(static_cast<const char*>(child->FindValue("v")->Data()), "two");

    registry_node copy(original);
    EXPECT_EQ(copy.Name(), "orig");
    copy.FindChild("child")->SetValue("v", REG_SZ, "three", 6);
    EXPECT_STREQ(static_cast<const char*>(child->FindValue("v")->Data()), "two");
    const registry_node& same = copy;
    copy = same;
    EXPECT_NE(copy.FindChild("child"), nullptr);

    registry_value stranger("v", REG_SZ, "x", 2);
    child->RemoveValue(&stranger);
    EXPECT_EQ(child->Values().size(), 1u) << "only the very object is removed";
    child->RemoveValue(child->FindValue("v"));
    EXPECT_TRUE(child->Values().empty());
    EXPECT_STREQ(original.Identification(), "registry_node");
}

TEST(RegistryTree, PrintsOneLinePerKeyAndValue)
{
    registry_node root("/");
    registry_node* key = new registry_node("Scrunch");
    root.AddChild(key);
    int32 minus = -1;
    key->SetValue("Force Post Process Mode", REG_DWORD, &minus, 4);
    key->SetValue("blob", REG_BINARY, "abc", 3);
    key->AddChild(new registry_node("below"));
    EXPECT_EQ(printed(root), "/\n"
                             "|   Scrunch\n"
                             "|   |   blob (type:3, size:3)\n"
                             "|   |   Force Post Process Mode (REG_DWORD(-1 == 0xffffffff))\n"
                             "|   |   below\n");
}
