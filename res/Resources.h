// The pictures compiled into the program: the application icon and the three bitmaps. Call
// InitResources() once before anything here and before setupUi() of a form in this folder: the
// pictures live in a static library, so nothing registers them on its own.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QRgb>

void InitResources();

// The pictures by the resource numbers the window has always known them by:
//   icon 128    app-icon.ico, app-icon_16/32/48.png
//   bitmap 129  state-pictures.bmp
//   bitmap 131  file-type-pictures.bmp
//   bitmap 132  banner.bmp
// and the folder view's own, which have no numbers: tree-state-pictures.bmp, folder-picture.bmp.

// The application icon with its 16x16, 32x32 and 48x48 images.
QIcon AppIcon();
// The tree list's two blank 16x16 state pictures, all of the state mask colour.
QPixmap StatePicturesBitmap();
// The twelve 16x16 file-type pictures in FileTypeIcon order, on the file-type mask.
QPixmap FileTypeBitmap();
// The folder view's state pictures, 16x16 each on the state mask: a boxed plus (collapsed), a
// boxed minus (expanded).
QPixmap TreeStatePicturesBitmap();
// A 16x16 folder on the file-type mask, for the folder view's folder rows.
QPixmap FolderBitmap();
// The 390x63 banner below the list.
QPixmap BannerBitmap();

// Width of one picture in the state and file-type strips, and the colours that show as
// transparent there.
inline constexpr int kPictureWidth = 16;
inline constexpr QRgb kStateMaskColour = qRgb(255, 0, 0);
inline constexpr QRgb kFileTypeMaskColour = qRgb(255, 0, 255);
