// The content view's bar.

#include "player/PlayerView.h"

#include "platform/interface/Window.h"
#include "player/PlayerCaptions.h"

#include <algorithm>
#include <cmath>

namespace
{

constexpr rgb_color kBarColor = {32, 32, 32, 255};
constexpr rgb_color kTrackColor = {90, 90, 90, 255};
constexpr rgb_color kDoneColor = {220, 220, 220, 255};
constexpr rgb_color kTextColor = {255, 255, 255, 255};
constexpr rgb_color kTickColor = {255, 200, 40, 255};
constexpr rgb_color kCaptionBoxColor = {16, 16, 16, 255};
// Captions keep clear of the bar (two rows at most) and of the edges.
constexpr float kCaptionBottom = 44;
constexpr float kCaptionMargin = 8;
// A bar this tall has a row for the marker's name above the track.
constexpr float kTwoRows = 40;
// The text lines' spacing.
constexpr float kLineHeight = 20;
// Room for the texts at the track's ends.
constexpr float kTextRoom = 110;

} // namespace

CPlayerView::CPlayerView(BRect frame)
    : BView(frame, "ContentView", B_FOLLOW_ALL, 0), fUnderValid(false)
{
    SetViewColor(0, 0, 0, 255);
}

void CPlayerView::SetMovieFrame(BRect frame)
{
    std::lock_guard<std::mutex> locked(fMovieLock);
    fMovieFrame = frame;
}

BRect CPlayerView::MovieFrame() const
{
    std::lock_guard<std::mutex> locked(fMovieLock);
    return fMovieFrame;
}

bool CPlayerView::ShowPicture(const BBitmap* picture, uint32 time)
{
    (void)time;
    // The window's lock comes first, the frame's is taken only inside it.
    if (!LockLooper())
        return false;
    DrawBitmap(picture, MovieFrame());
    if (fOverlay)
        fOverlay();
    UnlockLooper();
    return true;
}

void CPlayerView::SetText(const std::vector<std::string>& lines)
{
    fText = lines;
    if (Window() != nullptr)
        Invalidate();
}

void CPlayerView::SetPicture(std::unique_ptr<BBitmap> picture)
{
    fPicture = std::move(picture);
    if (Window() != nullptr)
        Invalidate();
}

BRect CPlayerView::PictureFrame() const
{
    if (fPicture == nullptr)
        return BRect();
    BRect area = Bounds();
    area.InsetBy(12, 12);
    area.top += float(fText.size()) * kLineHeight;
    BRect bounds = fPicture->Bounds();
    float width = bounds.Width() + 1, height = bounds.Height() + 1;
    if (!area.IsValid())
        return BRect();
    float scale = std::min((area.Width() + 1) / width, (area.Height() + 1) / height);
    float w = std::max(1.0f, std::floor(width * scale));
    float h = std::max(1.0f, std::floor(height * scale));
    float left = std::floor(area.left + (area.Width() + 1 - w) / 2);
    return BRect(left, area.top, left + w - 1, area.top + h - 1);
}

void CPlayerView::Draw(BRect updateRect)
{
    // Painted afresh: nothing of the old bar's place is left.
    fUnderValid = false;
    BView::Draw(updateRect);
    for (size_t i = 0; i < fText.size(); i++)
        DrawString(fText[i].c_str(), BPoint(12, 12 + float(i) * kLineHeight), kTextColor);
    BRect frame = PictureFrame();
    if (frame.IsValid())
        DrawBitmap(fPicture.get(), frame);
}

void CPlayerView::DrawBar(BRect frame, float progress, const char* left, const char* right,
                          const std::vector<float>& ticks, const char* label)
{
    BWindow* window = Window();
    if (window == nullptr || !frame.IsValid())
        return;
    if (!fUnderValid) {
        // The window's pixels under the bar, row by row.
        int32 width, height, stride;
        uint32* pixels = window->LockPixels(&width, &height, &stride);
        BRect area = frame;
        area.OffsetBy(Frame().left, Frame().top);
        area = area & Frame();
        area = area & BRect(0, 0, float(width - 1), float(height - 1));
        fUnder.clear();
        if (area.IsValid()) {
            for (int32 y = int32(area.top); y <= int32(area.bottom); y++)
                fUnder.insert(fUnder.end(), pixels + size_t(y) * stride + int32(area.left),
                              pixels + size_t(y) * stride + int32(area.right) + 1);
        }
        window->UnlockPixels(false);
        fUnderFrame = area;
        fUnderValid = area.IsValid();
    }
    FillRect(frame, kBarColor);
    BRect row = frame;
    if (frame.Height() + 1 >= kTwoRows) {
        row.top = frame.bottom - (kTwoRows / 2) + 1;
        if (label != nullptr)
            DrawString(label, BPoint(frame.left + kTextRoom, frame.top + 2), kTextColor);
    }
    BRect track = row;
    track.left += kTextRoom;
    track.right -= kTextRoom;
    track.top = row.top + row.Height() / 2 - 2;
    track.bottom = track.top + 4;
    if (track.IsValid()) {
        FillRect(track, kTrackColor);
        BRect done = track;
        done.right = track.left + (track.Width()) * std::clamp(progress, 0.0f, 1.0f);
        FillRect(done, kDoneColor);
        for (float tick : ticks) {
            float x = std::round(track.left + track.Width() * std::clamp(tick, 0.0f, 1.0f));
            FillRect(BRect(x - 1, track.top - 4, x, track.bottom + 4) & row, kTickColor);
        }
    }
    DrawString(left, BPoint(row.left + 6, row.top + 4), kTextColor);
    DrawString(right, BPoint(std::max(row.left, row.right - kTextRoom + 6), row.top + 4),
               kTextColor);
}

void CPlayerView::DrawCaption(BRect picture, const std::string& text)
{
    picture = picture & Bounds();
    if (text.empty() || !picture.IsValid())
        return;
    float width = picture.Width() + 1 - 4 * kCaptionMargin;
    if (width < 20)
        return;
    // The interface's size on a small picture, growing with it (full
    // screen): a line is about a twentieth of the picture's height.
    SetFontSize(std::clamp(std::round((picture.Height() + 1) / 20), 12.0f, 72.0f));
    std::vector<std::string> lines = CPlayerCaptions::Wrap(
        text, width, [this](const std::string& line) { return StringWidth(line.c_str()); });
    float lineHeight = FontHeight() + 2;
    float boxHeight = float(lines.size()) * lineHeight + 2 * kCaptionMargin;
    float bottom = std::min(picture.bottom, picture.top + picture.Height()) - kCaptionBottom;
    float top = std::max(picture.top, bottom - boxHeight);
    float widest = 0;
    for (const std::string& line : lines)
        widest = std::max(widest, StringWidth(line.c_str()));
    float centre = picture.left + (picture.Width() + 1) / 2;
    BRect box(std::floor(centre - widest / 2 - kCaptionMargin), top,
              std::ceil(centre + widest / 2 + kCaptionMargin), bottom);
    FillRect(box & picture, kCaptionBoxColor);
    for (size_t i = 0; i < lines.size(); i++) {
        float x = std::floor(centre - StringWidth(lines[i].c_str()) / 2);
        DrawString(lines[i].c_str(), BPoint(x, top + kCaptionMargin + float(i) * lineHeight),
                   kTextColor);
    }
    SetFontSize(0);
}

void CPlayerView::DrawPanel(const std::vector<std::string>& lines)
{
    float lineHeight = FontHeight() + 2;
    float widest = 0;
    for (const std::string& line : lines)
        widest = std::max(widest, StringWidth(line.c_str()));
    BRect box(kCaptionMargin, kCaptionMargin, kCaptionMargin + widest + 2 * kCaptionMargin,
              kCaptionMargin + float(lines.size()) * lineHeight + 2 * kCaptionMargin);
    FillRect(box & Bounds(), kCaptionBoxColor);
    for (size_t i = 0; i < lines.size(); i++)
        DrawString(lines[i].c_str(),
                   BPoint(2 * kCaptionMargin, 2 * kCaptionMargin + float(i) * lineHeight),
                   kTextColor);
}

void CPlayerView::RemoveBar()
{
    BWindow* window = Window();
    if (window == nullptr || !fUnderValid)
        return;
    int32 width, height, stride;
    uint32* pixels = window->LockPixels(&width, &height, &stride);
    BRect area = fUnderFrame;
    size_t rowLength = size_t(area.right - area.left) + 1;
    bool fits = area.right < float(width) && area.bottom < float(height) &&
                fUnder.size() == rowLength * size_t(area.bottom - area.top + 1);
    for (int32 y = int32(area.top); fits && y <= int32(area.bottom); y++)
        std::copy_n(fUnder.begin() + long(size_t(y - int32(area.top)) * rowLength), rowLength,
                    pixels + size_t(y) * stride + int32(area.left));
    window->UnlockPixels(fits);
    fUnderValid = false;
}
