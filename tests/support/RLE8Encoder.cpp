#include "RLE8Encoder.h"

namespace
{

// Encodes pixels [from, to) of one row: runs of two or more, literal
// strings of three or more (padded to an even length), single pixels as
// runs of one.
void encode_span(const uint8* row, int32 from, int32 to, std::vector<uint8>* out)
{
    int32 x = from;
    while (x < to) {
        int32 run = 1;
        while (x + run < to && run < 255 && row[x + run] == row[x])
            run++;
        if (run >= 2 || to - x < 3) {
            out->push_back(uint8(run));
            out->push_back(row[x]);
            x += run;
            continue;
        }
        // A literal string up to where a run of two begins.
        int32 length = 1;
        while (x + length < to && length < 255 &&
               !(x + length + 1 < to && row[x + length] == row[x + length + 1]))
            length++;
        if (length < 3) {
            out->push_back(1);
            out->push_back(row[x]);
            x++;
            continue;
        }
        out->push_back(0);
        out->push_back(uint8(length));
        out->insert(out->end(), row + x, row + x + length);
        if (length % 2 != 0)
            out->push_back(0);
        x += length;
    }
}

} // namespace

std::vector<uint8> rle8_encode(const std::vector<uint8>& picture, int32 width, int32 height,
                               const std::vector<uint8>* previous)
{
    std::vector<uint8> out;
    // The first line coded is the bottom row.
    for (int32 line = 0; line < height; line++) {
        const uint8* row = picture.data() + size_t(height - 1 - line) * width;
        int32 from = 0, to = width;
        if (previous != nullptr) {
            const uint8* before = previous->data() + size_t(height - 1 - line) * width;
            while (from < width && row[from] == before[from])
                from++;
            while (to > from && row[to - 1] == before[to - 1])
                to--;
            // A delta escape skips the unchanged start of the row.
            for (int32 skipped = 0; from < to && skipped < from;) {
                int32 step = from - skipped < 255 ? from - skipped : 255;
                out.insert(out.end(), {0, 2, uint8(step), 0});
                skipped += step;
            }
        }
        encode_span(row, from, to, &out);
        if (line + 1 < height) {
            out.push_back(0);
            out.push_back(0); // end of line: the rest of the row stays
        }
    }
    out.push_back(0);
    out.push_back(1); // end of picture
    return out;
}
