// The compiled-in pictures: present, 24-bit where a bitmap is asked for, the right sizes, and
// drawn with the colours the lists and the window rely on (masks, labels, banner frame).
#include "Resources.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <gtest/gtest.h>

#include <vector>

namespace {

QImage Rgb(const QPixmap& pixmap) {
    return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
}

// Opaque RGB, as qRgb() gives it, whatever alpha the image format carries.
QRgb At(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xff000000u;
}

bool IsGold(QRgb c) {
    const int r = qRed(c), g = qGreen(c), b = qBlue(c);
    return r >= 150 && g * 100 >= r * 50 && g * 100 <= r * 95 && b * 2 < g;
}

TEST(Pictures, EveryPictureIsCompiledIn) {
    for (const char* name : {"app-icon.ico", "app-icon_16.png", "app-icon_32.png",
                             "app-icon_48.png", "state-pictures.bmp", "file-type-pictures.bmp",
                             "banner.bmp", "tree-state-pictures.bmp", "folder-picture.bmp"})
        EXPECT_TRUE(QFile::exists(QStringLiteral(":/res/") + QLatin1String(name))) << name;
}

TEST(Pictures, BitmapsAre24BitAtTheirSizes) {
    struct Case {
        const char* name;
        QPixmap (*load)();
        int width, height;
    };
    const Case cases[] = {{"state-pictures.bmp", StatePicturesBitmap, 32, 16},
                          {"file-type-pictures.bmp", FileTypeBitmap, 192, 16},
                          {"banner.bmp", BannerBitmap, 390, 63},
                          {"tree-state-pictures.bmp", TreeStatePicturesBitmap, 32, 16},
                          {"folder-picture.bmp", FolderBitmap, 16, 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile file(QStringLiteral(":/res/") + QLatin1String(c.name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        ASSERT_GE(bytes.size(), 54);
        EXPECT_EQ(bytes.left(2), QByteArray("BM"));
        EXPECT_EQ(static_cast<unsigned char>(bytes[28]), 24); // biBitCount
        EXPECT_EQ(bytes[29], 0);
        // Rows of 24-bit pixels padded to four bytes, after the two headers.
        EXPECT_EQ(bytes.size(), 54 + ((c.width * 3 + 3) & ~3) * c.height);
        const QPixmap pixmap = c.load();
        ASSERT_FALSE(pixmap.isNull());
        EXPECT_EQ(pixmap.size(), QSize(c.width, c.height));
    }
}

TEST(Pictures, StatePicturesAreAllMask) {
    const QImage image = Rgb(StatePicturesBitmap());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(At(image, x, y), kStateMaskColour) << x << "," << y;
}

TEST(Pictures, FileTypePicturesAreTwelveDistinctRedLabelsOnMask) {
    const QImage image = Rgb(FileTypeBitmap());
    ASSERT_EQ(image.width(), 12 * kPictureWidth);
    std::vector<QImage> cells;
    for (int cell = 0; cell < 12; ++cell) {
        SCOPED_TRACE(cell);
        const int left = cell * kPictureWidth;
        int red = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = left; x < left + kPictureWidth; ++x) {
                const QRgb c = At(image, x, y);
                ASSERT_TRUE(c == qRgb(255, 0, 0) || c == kFileTypeMaskColour) << x << "," << y;
                red += c == qRgb(255, 0, 0);
            }
            // A label touching its cell's edge would run into the next picture in the list.
            EXPECT_EQ(At(image, left, y), kFileTypeMaskColour);
            EXPECT_EQ(At(image, left + kPictureWidth - 1, y), kFileTypeMaskColour);
        }
        EXPECT_GE(red, 20); // three letters, not a stray dot
        cells.push_back(image.copy(left, 0, kPictureWidth, image.height()));
    }
    for (size_t i = 0; i < cells.size(); ++i)
        for (size_t j = i + 1; j < cells.size(); ++j)
            EXPECT_NE(cells[i], cells[j]) << "pictures " << i << " and " << j << " are the same";
}

TEST(Pictures, BannerIsGoldTitleOnBlackInsideGoldFrame) {
    const QImage image = Rgb(BannerBitmap());
    ASSERT_EQ(image.size(), QSize(390, 63));
    const int w = image.width(), h = image.height();
    // Black margin, then an unbroken gold line all around.
    const QRgb frame = At(image, 2, 2);
    EXPECT_TRUE(IsGold(frame));
    for (int x = 0; x < w; ++x) {
        EXPECT_EQ(At(image, x, 0), qRgb(0, 0, 0));
        EXPECT_EQ(At(image, x, h - 1), qRgb(0, 0, 0));
    }
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(At(image, 0, y), qRgb(0, 0, 0));
        EXPECT_EQ(At(image, w - 1, y), qRgb(0, 0, 0));
    }
    for (int x = 2; x < w - 2; ++x) {
        EXPECT_EQ(At(image, x, 2), frame);
        EXPECT_EQ(At(image, x, h - 3), frame);
    }
    for (int y = 2; y < h - 2; ++y) {
        EXPECT_EQ(At(image, 2, y), frame);
        EXPECT_EQ(At(image, w - 3, y), frame);
    }
    // The title: gold on black well inside the frame, centred across.
    int left = w, right = -1, gold = 0, black = 0;
    for (int y = 8; y < h - 8; ++y) {
        for (int x = 8; x < w - 8; ++x) {
            const QRgb c = At(image, x, y);
            if (IsGold(c)) {
                ++gold;
                left = std::min(left, x);
                right = std::max(right, x);
            } else {
                EXPECT_EQ(c, qRgb(0, 0, 0)) << x << "," << y;
                ++black;
            }
        }
    }
    EXPECT_GT(gold, 1000);
    EXPECT_GT(black, gold);
    EXPECT_LE(std::abs(left - (w - 1 - right)), 2) << "title spans " << left << ".." << right;
}

TEST(Pictures, AppIconHasThreeSizesOfAGoldLetterOnAnOpaqueBox) {
    const QIcon icon = AppIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int size : {16, 32, 48}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(sizes.contains(QSize(size, size)));
        const QImage image =
            icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0); // rounded corners show the background
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);
        int gold = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                gold += qAlpha(image.pixel(x, y)) == 255 && IsGold(image.pixel(x, y) & RGB_MASK);
        EXPECT_GT(gold, size * size / 10);
    }
}

// The .ico holds each size at 16 and at 256 colours. The 256-colour images are the very pictures
// of the PNG copies, and the 16-colour ones have the same shapes; reading them back checks the
// palette, row order and transparency mask the script writes.
TEST(Pictures, IcoHoldsEachSizeAtTwoDepthsMatchingThePngCopies) {
    if (!QImageReader::supportedImageFormats().contains("ico"))
        GTEST_SKIP() << "this Qt has no .ico reader";
    QImageReader reader(QStringLiteral(":/res/app-icon.ico"));
    ASSERT_EQ(reader.imageCount(), 6);
    QList<int> exact;
    QList<int> seen;
    for (int i = 0; i < reader.imageCount(); ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
        const int size = image.width();
        ASSERT_EQ(image.height(), size);
        seen.append(size);
        const QImage png = QImage(QStringLiteral(":/res/app-icon_%1.png").arg(size))
                               .convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(png.size(), image.size());
        // Same outline, and the letter and rim (bright) where the PNG has them.
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QRgb a = image.pixel(x, y), b = png.pixel(x, y);
                ASSERT_EQ(qAlpha(a), qAlpha(b)) << "image " << i << " at " << x << "," << y;
                ASSERT_EQ(qRed(a) > 128, qRed(b) > 128) << "image " << i << " at " << x << "," << y;
            }
        }
        if (image == png)
            exact.append(size);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (QList<int>{16, 16, 32, 32, 48, 48}));
    std::sort(exact.begin(), exact.end());
    EXPECT_EQ(exact, (QList<int>{16, 32, 48}));
}

} // namespace
