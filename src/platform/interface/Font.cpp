// The interface font through SDL_ttf. The library is not thread-safe, so
// every call goes through one lock.

#include "platform/interface/Display.h"
#include "platform/support/Debug.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

namespace display
{

namespace
{

constexpr int kPointSize = 12;
constexpr int kLargestPointSize = 96;
// Height used when no font file can be found: the bar keeps its layout.
constexpr int32 kFallbackHeight = 15;

const char* const kFontFiles[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/TTF/DejaVuSans.ttf",
    "/usr/share/fonts/dejavu/DejaVuSans.ttf",
};

std::mutex sFontLock;
const char* sFontFile = nullptr; // the file that opened, once tried
bool sTried = false;
// The font at each size asked for, opened once and kept (a plain array:
// nothing of it is torn down at exit while a thread may still draw).
TTF_Font* sFonts[kLargestPointSize + 1];
bool sOpenFailed[kLargestPointSize + 1];

TTF_Font* font_locked(int pointSize)
{
    if (pointSize <= 0)
        pointSize = kPointSize;
    pointSize = std::min(pointSize, kLargestPointSize);
    if (sFonts[pointSize] != nullptr || sOpenFailed[pointSize])
        return sFonts[pointSize];
    if (!sTried) {
        sTried = true;
        if (TTF_Init() != 0) {
            _debugPrintf("font: %s\n", TTF_GetError());
            return nullptr;
        }
        std::vector<const char*> files;
        const char* chosen = getenv("REELMOTH_FONT");
        if (chosen != nullptr && chosen[0] != '\0')
            files.push_back(chosen);
        files.insert(files.end(), std::begin(kFontFiles), std::end(kFontFiles));
        for (const char* file : files) {
            TTF_Font* font = TTF_OpenFont(file, pointSize);
            if (font != nullptr) {
                sFontFile = file;
                sFonts[pointSize] = font;
                return font;
            }
        }
        fprintf(stderr, "reelmoth: no interface font found; menus show no text\n");
        return nullptr;
    }
    if (sFontFile == nullptr)
        return nullptr;
    TTF_Font* font = TTF_OpenFont(sFontFile, pointSize);
    sFonts[pointSize] = font;
    sOpenFailed[pointSize] = font == nullptr;
    return font;
}

} // namespace

int32 font_height(int32 pointSize)
{
    std::lock_guard<std::mutex> locked(sFontLock);
    TTF_Font* font = font_locked(pointSize);
    return font != nullptr ? int32(TTF_FontHeight(font)) : kFallbackHeight;
}

int32 text_width(const char* text, int32 pointSize)
{
    std::lock_guard<std::mutex> locked(sFontLock);
    TTF_Font* font = font_locked(pointSize);
    int width = 0;
    if (font == nullptr || text == nullptr || TTF_SizeUTF8(font, text, &width, nullptr) != 0)
        return int32(text != nullptr ? 7 * strlen(text) : 0);
    return int32(width);
}

void draw_text(uint32* pixels, int32 width, int32 height, int32 stride, BRect clip, int32 x,
               int32 y, const char* text, rgb_color color, int32 pointSize)
{
    if (text == nullptr || text[0] == '\0')
        return;
    std::lock_guard<std::mutex> locked(sFontLock);
    TTF_Font* font = font_locked(pointSize);
    if (font == nullptr)
        return;
    SDL_Color fg = {color.red, color.green, color.blue, 255};
    SDL_Surface* rendered = TTF_RenderUTF8_Blended(font, text, fg);
    if (rendered == nullptr)
        return;
    SDL_Surface* argb = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(rendered);
    if (argb == nullptr)
        return;
    int32 left = std::max<int32>({0, int32(clip.left), x});
    int32 top = std::max<int32>({0, int32(clip.top), y});
    int32 right = std::min<int32>({width - 1, int32(clip.right), x + argb->w - 1});
    int32 bottom = std::min<int32>({height - 1, int32(clip.bottom), y + argb->h - 1});
    for (int32 row = top; row <= bottom; row++) {
        const uint32* source = reinterpret_cast<const uint32*>(
            static_cast<const uint8*>(argb->pixels) + (row - y) * argb->pitch);
        uint32* target = pixels + size_t(row) * stride;
        for (int32 column = left; column <= right; column++) {
            uint32 s = source[column - x];
            uint32 alpha = s >> 24;
            if (alpha == 0)
                continue;
            uint32 d = target[column];
            auto mix = [&](int shift) {
                uint32 sc = (s >> shift) & 0xFF;
                uint32 dc = (d >> shift) & 0xFF;
                return ((sc * alpha + dc * (255 - alpha)) / 255) << shift;
            };
            target[column] = 0xFF000000 | mix(16) | mix(8) | mix(0);
        }
    }
    SDL_FreeSurface(argb);
}

} // namespace display
