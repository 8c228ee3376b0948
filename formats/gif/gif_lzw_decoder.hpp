#pragma once
// The LZW decoder for a frame's image data (GIF89a, section 22 and appendix F).

namespace tamberlit {

class TGIFReader;
class TGIFSubImage;

// Decodes the image data at the reader's position into the frame's pixels (rows
// in interlaced order when the frame is interlaced). Damaged data still gives a
// complete frame: pixels the data does not reach keep the fill value (the
// transparent index of a transparent frame, else 0), and the frame's
// RowsPresent says how many rows the data reached. In the image's first frame,
// the picture a conversion takes, data that reaches less than half of the rows
// raises EInvalidGraphic "cut short: ...", before the frame's pixels are
// filled. A minimum code size above 11 raises "Invalid GIF data"
// (before any pixel memory is allocated); a table chain that loops raises
// "Circular decoder table entry".
void DecodeFrameData(TGIFSubImage& frame, TGIFReader& reader);

// The rows of an interlaced frame in the order the data holds them: every 8th
// row from 0, every 8th from 4, every 4th from 2, every 2nd from 1 (GIF89a,
// appendix E).
class TInterlacedRows {
public:
    explicit TInterlacedRows(int height) : height_(height) {}
    int Row() const { return row_; }
    void Advance() {
        row_ += step_;
        while (row_ >= height_) {
            if (pass_ > 0) step_ /= 2;
            ++pass_;
            row_ = step_ / 2;
        }
    }

private:
    int height_;
    int row_ = 0;
    int step_ = 8;
    int pass_ = 0;
};

}  // namespace tamberlit
