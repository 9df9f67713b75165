// reelmoth: plays the ASF files named on the command line, each in a window
// of its own.

#include "app/ASFApplication.h"
#include "platform/media/MediaDecoder.h"

#include "registry/RegistryNode.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace
{

const char kUsage[] = "usage: reelmoth [FILE...]\n"
                      "Plays ASF movies (.asf, .wmv, .wma), each in a window of its own.\n"
                      "Files can also be dropped on a window. Close the windows to quit.\n"
                      "\n"
                      "Keys (in a player window):\n"
                      "  Space, click       pause / resume\n"
                      "  Left, Right        back / forward 10 seconds\n"
                      "  Down, Up           back / forward 60 seconds\n"
                      "  Home               to the start\n"
                      "  f, double click    full screen / back\n"
                      "  m                  mute / unmute\n"
                      "  9, 0, mouse wheel  volume down / up\n"
                      "  q, Escape          close the window (Escape leaves full screen first)\n"
                      "A bar along the bottom of the picture shows the position, the\n"
                      "duration, a pause sign and the volume for two seconds after any key\n"
                      "or mouse movement; a click on it goes to that place.\n";

std::atomic<bool> sMainReturned{false};

// The process ends other than by main's return: the display's library calls
// exit() when the X server goes away. The players' threads still run, so the
// static objects must not be destroyed under them: keep the registry and end
// at once.
void EndAtOnce()
{
    if (sMainReturned.load())
        return;
    registry_write_now();
    fflush(stdout);
    fflush(stderr);
    _exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    // The only options, for people at a shell; everything else names files.
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        printf("reelmoth %s\n", REELMOTH_VERSION);
        return 0;
    }

    // The video decoders' libraries load while the display starts.
    preload_media_decoders();
    atexit(EndAtOnce);
    CASFApplication application;
    application.Run();
    sMainReturned.store(true);
    return 0;
}
