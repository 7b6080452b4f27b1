#pragma once

#include <QIcon>

namespace app {

// Pictures of the tool-bar buttons, drawn at 16 x 16.
enum class Picture {
    Save,
    Open,
    CopyText,
    Catalogue,
    Previous,
    Next,
    Print,
    Usb,
    Computer, // launch from the computer
    RisingEdge, // launch on the photodiode signal
    CopyChart,
    Help,
};

QIcon pictureIcon(Picture picture);

} // namespace app
