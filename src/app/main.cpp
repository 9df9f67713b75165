// reelmoth: plays the ASF files named on the command line, each in a window
// of its own.

#include "app/ASFApplication.h"
#include "platform/MediaDecoder.h"

#include <cstdio>
#include <cstring>

namespace
{

const char kUsage[] = "usage: reelmoth [FILE...]\n"
                      "Plays ASF movies (.asf, .wmv, .wma), each in a window of its own.\n"
                      "Files can also be dropped on a window. Close the windows to quit.\n";

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
    CASFApplication application;
    application.Run();
    return 0;
}
