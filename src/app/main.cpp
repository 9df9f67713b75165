// reelmoth: plays the ASF files named on the command line, each in a window
// of its own.

#include "app/ASFApplication.h"
#include "app/CodecList.h"
#include "platform/interface/InterfaceDefs.h"
#include "platform/media/MediaDecoder.h"

#include "registry/RegistryNode.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace
{

const char kUsage[] =
    "usage: reelmoth [FILE...]\n"
    "       reelmoth --codecs | --help | --version\n"
    "Plays ASF movies (.asf, .wmv, .wma), each in a window of its own.\n"
    "Files can also be dropped on a window. Close the windows to quit.\n"
    "\n"
    "  --codecs   list the decoders: the codec modules of the decoders folder\n"
    "             with the format tags or picture codes they decode, then\n"
    "             FFmpeg's\n"
    "\n"
    "Keys (in a player window):\n"
    "  Space, click       pause / resume\n"
    "  Left, Right        back / forward 10 seconds\n"
    "  Down, Up           back / forward 60 seconds\n"
    "  Home               to the start\n"
    "  PageUp, PageDown   previous / next marker\n"
    "  i                  show / hide the information panel\n"
    "  f, double click    full screen / back\n"
    "  m                  mute / unmute\n"
    "  9, 0, mouse wheel  volume down / up\n"
    "  q, Escape          close the window (Escape leaves full screen first)\n"
    "A bar along the bottom of the picture shows the position, the\n"
    "duration, a pause sign and the volume for two seconds after any key\n"
    "or mouse movement, with the file's markers as ticks and the name of the\n"
    "one playing; a click on it goes to that place.\n"
    "\n"
    "Environment:\n"
    "  REELMOTH_AUDIO=auto|modules|ffmpeg  who decodes sound: codec modules first\n"
    "                                      and FFmpeg when none can (auto, the\n"
    "                                      default), modules only, FFmpeg only\n"
    "  REELMOTH_DEBUG=1                    debug output on stderr\n";

// A window system to open windows on; a driver chosen for SDL by name (a
// headless one, say) is taken as one.
bool has_display()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}) {
        const char* value = getenv(name);
        if (value != nullptr && value[0] != '\0')
            return true;
    }
    return false;
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

    if (argc == 2 && strcmp(argv[1], "--codecs") == 0) {
        registry_load();
        int status = print_codecs(stdout);
        registry_save(); // what the modules reported is remembered
        return status;
    }

    // Window titles are UTF-8 (a file's tags); the window system takes them
    // as such only under a UTF-8 character type. Set before any thread.
    const char* ctype = setlocale(LC_CTYPE, "");
    if (ctype == nullptr || strcmp(ctype, "C") == 0 || strcmp(ctype, "POSIX") == 0)
        setlocale(LC_CTYPE, "C.UTF-8");

    if (!has_display()) {
        fputs("reelmoth: no display: neither DISPLAY nor WAYLAND_DISPLAY is set\n", stderr);
        return 1;
    }

    // Before any thread: see prepare_display_environment.
    prepare_display_environment();
    // The registry first: reading it loads the text converters, which would
    // wait for the dynamic loader while the decoders' libraries load.
    registry_load();
    // The video decoders' libraries load while the display starts.
    preload_media_decoders();
    // Should the window system go away, the players' threads still run:
    // the registry is kept and the process ends at once.
    set_display_lost_hook(registry_save);
    int status;
    {
        CASFApplication application;
        application.Run();
        status = display_unavailable() ? 1 : 0;
    }
    registry_save();
    return status;
}
