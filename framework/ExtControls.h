// Windowless decorations: bevel lines/boxes and an image showing a bitmap.
#pragma once

#include "framework/Bitmap.h"
#include "framework/GraphicControl.h"

namespace fw {

enum class BevelShape { Box, Frame, TopLine, BottomLine, LeftLine, RightLine, Spacer };
enum class BevelStyle { Lowered, Raised };

class Bevel : public GraphicControl {
public:
    explicit Bevel(Component* owner);
    BevelShape Shape = BevelShape::Box;
    BevelStyle Style = BevelStyle::Lowered;

protected:
    void Paint(fw::Canvas& canvas) override;
};

class Image : public GraphicControl {
public:
    explicit Image(Component* owner);

    // The picture; after changing it in place call Invalidate.
    Bitmap& Picture() { return picture_; }
    void SetPicture(const Bitmap& b);
    bool LoadFromFile(const std::wstring& path);  // false leaves the picture unchanged
    bool Stretch = false;
    bool Center = false;

protected:
    void Paint(fw::Canvas& canvas) override;

private:
    Bitmap picture_;
};

}  // namespace fw
