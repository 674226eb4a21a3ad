// The preview: every picture format through one QImageReader path (pcx of every layout built
// here and compared pixel for pixel, hostile headers refused), the choice of view, the text and
// hex rows, entries decoded from an archive, saving as png, and sound where a back end exists.
#include "ArchiveBuilder.h"
#include "DatArchive.h"
#include "Extraction.h"
#include "FakeDialogs.h"
#include "PreviewWindow.h"
#include "Recorders.h"
#include "ResourceUse.h"
#include "TempDir.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageReader>
#include <QImageWriter>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

void Put16(std::string& out, std::size_t at, unsigned value) {
    out[at] = char(value & 0xff);
    out[at + 1] = char(value >> 8);
}

// A pcx file written the way the format describes: header, each row plane by plane, run-length
// encoded (runs stop at row ends unless crossRows) or raw, then the 256-colour palette for 8 bits.
struct PcxPicture {
    unsigned width, height, bits, planes;
    bool runLength = true;
    bool crossRows = false;
    unsigned padding = 0; // bytes per line beyond what a row needs
    // The value of plane p at pixel (x, y): a palette index, a colour channel or a bit.
    std::function<unsigned(unsigned x, unsigned y, unsigned p)> value;

    unsigned BytesPerLine() const { return (width * bits + 7) / 8 + padding; }
    static std::uint32_t HeaderColour(unsigned i) {
        return 0xff000000u | (i * 16) << 16 | (255 - i * 16) << 8 | (i * 7 & 0xff);
    }
    static std::uint32_t Colour256(unsigned i) {
        return 0xff000000u | i << 16 | (i * 3 & 0xff) << 8 | (255 - i);
    }

    std::string Bytes() const {
        std::string out(128, '\0');
        out[0] = 0x0a;
        out[1] = 5;
        out[2] = runLength ? 1 : 0;
        out[3] = char(bits);
        Put16(out, 4, 3); // a picture need not start at 0, 0
        Put16(out, 6, 7);
        Put16(out, 8, 3 + width - 1);
        Put16(out, 10, 7 + height - 1);
        for (unsigned i = 0; i < 16; ++i) {
            const std::uint32_t c = HeaderColour(i);
            out[16 + 3 * i] = char(c >> 16);
            out[17 + 3 * i] = char(c >> 8);
            out[18 + 3 * i] = char(c);
        }
        out[65] = char(planes);
        Put16(out, 66, BytesPerLine());
        std::string raw;
        for (unsigned y = 0; y < height; ++y)
            for (unsigned p = 0; p < planes; ++p) {
                std::string line(BytesPerLine(), '\0');
                for (unsigned x = 0; x < width; ++x) {
                    const unsigned bit = x * bits;
                    line[bit / 8] = char(line[bit / 8] | value(x, y, p) << (8 - bits - bit % 8));
                }
                raw += line;
            }
        if (!runLength) {
            out += raw;
        } else {
            const std::size_t row = crossRows ? raw.size() : BytesPerLine();
            for (std::size_t start = 0; start < raw.size(); start += row)
                for (std::size_t i = start; i < start + row;) {
                    std::size_t n = 1;
                    while (i + n < start + row && n < 63 && raw[i + n] == raw[i])
                        ++n;
                    if (n > 1 || (raw[i] & 0xc0) == 0xc0)
                        out += char(0xc0 | n);
                    out += raw[i];
                    i += n;
                }
        }
        if (bits == 8 && planes == 1) {
            out += '\x0c';
            for (unsigned i = 0; i < 256; ++i) {
                const std::uint32_t c = Colour256(i);
                out += {char(c >> 16), char(c >> 8), char(c)};
            }
        }
        return out;
    }

    // The picture as it should read back, from the same values and the format's colours.
    QImage Expected() const {
        QImage image(int(width), int(height), QImage::Format_RGB32);
        for (unsigned y = 0; y < height; ++y)
            for (unsigned x = 0; x < width; ++x) {
                std::uint32_t c;
                if (bits == 8 && planes >= 3) {
                    c = 0xff000000u | value(x, y, 0) << 16 | value(x, y, 1) << 8 | value(x, y, 2);
                } else if (bits == 8) {
                    c = Colour256(value(x, y, 0));
                } else if (bits == 1 && planes == 1) {
                    c = value(x, y, 0) ? 0xffffffffu : 0xff000000u;
                } else {
                    unsigned index = 0;
                    for (unsigned p = 0; p < planes; ++p)
                        index |= value(x, y, p) << (p * bits);
                    c = HeaderColour(index);
                }
                image.setPixel(int(x), int(y), c);
            }
        return image;
    }
};

// A 24-bit uncompressed tga, bottom row first as the format stores it, with the version 2
// footer (Qt's plugin reads no other).
std::string Tga(const QImage& image) {
    std::string out(18, '\0');
    out[2] = 2;
    Put16(out, 12, unsigned(image.width()));
    Put16(out, 14, unsigned(image.height()));
    out[16] = 24;
    for (int y = image.height() - 1; y >= 0; --y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            out += {char(qBlue(c)), char(qGreen(c)), char(qRed(c))};
        }
    out += std::string(8, '\0');
    out += std::string("TRUEVISION-XFILE.", 18);
    return out;
}

std::string Written(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes.toStdString();
}

// Pixel for pixel, as opaque RGB.
void ExpectSamePixels(const QImage& got, const QImage& want, const std::string& row) {
    ASSERT_EQ(got.size(), want.size()) << row;
    const QImage a = got.convertToFormat(QImage::Format_RGB32);
    const QImage b = want.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            ASSERT_EQ(a.pixel(x, y) | 0xff000000u, b.pixel(x, y) | 0xff000000u)
                << row << " at " << x << "," << y;
}

QImage Gradient(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x ^ y) & 0xff));
    return image;
}

std::string PcxWithBroken(const std::function<void(std::string&)>& broken) {
    std::string bytes =
        PcxPicture{64, 64, 8, 1, true, false, 0, [](unsigned x, unsigned, unsigned) {
                       return x; }}.Bytes();
    broken(bytes);
    return bytes;
}

// A whole pcx of width x height 8-bit pixels in as few bytes as run-length allows.
std::string LargePcx(unsigned width, unsigned height) {
    std::string bytes(128, '\0');
    bytes[0] = 0x0a;
    bytes[1] = 5;
    bytes[2] = 1;
    bytes[3] = 8;
    Put16(bytes, 8, width - 1);
    Put16(bytes, 10, height - 1);
    bytes[65] = 1;
    Put16(bytes, 66, width);
    const std::uint64_t total = std::uint64_t(width) * height;
    for (std::uint64_t done = 0; done < total; done += 63)
        bytes += {char(0xc0 | std::min<std::uint64_t>(63, total - done)), 'A'};
    bytes += '\x0c';
    bytes += std::string(768, 'p');
    return bytes;
}

struct ImageCase {
    std::string row;
    std::string name; // its extension is the reader's format hint, as the preview gives it
    std::string bytes;
    QImage expected; // null: the reader must refuse it
};

std::vector<ImageCase> ImageCases() {
    const auto bitsOf = [](unsigned x, unsigned y, unsigned p) {
        return ((x * 7 + y * 3) >> p) & 1;
    };
    const auto index16 = [](unsigned x, unsigned y, unsigned p) {
        return (((x + 2 * y) % 16) >> p) & 1;
    };
    const auto index256 = [](unsigned x, unsigned y, unsigned) { return (x / 3 + y * 5) % 256; };
    const auto rgb = [](unsigned x, unsigned y, unsigned p) {
        return p == 0 ? x * 9 % 256 : p == 1 ? y * 13 % 256 : (x * y) % 256;
    };
    std::vector<PcxPicture> pcx{
        {13, 5, 1, 1, true, false, 0, bitsOf},  // 1-bit, a row not a whole byte
        {13, 6, 1, 4, true, false, 0, index16}, // 4 planes of 1 bit, the header's colours
        {9, 4, 4, 1, true, false, 1, [](unsigned x, unsigned y, unsigned) { return (x + y) % 16; }},
        {200, 7, 8, 1, true, false, 0, index256}, // long runs, the 256-colour palette
        {70, 9, 8, 1, true, true, 0, [](unsigned, unsigned y, unsigned) { return y / 2; }},
        {31, 8, 8, 3, true, false, 1, rgb},       // three planes, a padded line
        {17, 3, 8, 1, false, false, 0, index256}, // raw, encoding 0
    };
    const char* pcxRows[] = {"pcx 1-bit",    "pcx 4-bit planar",     "pcx 4-bit packed",
                             "pcx 8-bit",    "pcx runs across rows", "pcx 24-bit planes",
                             "pcx raw 8-bit"};
    std::vector<ImageCase> cases;
    for (std::size_t i = 0; i < pcx.size(); ++i)
        cases.push_back({pcxRows[i], "pics\\p.pcx", pcx[i].Bytes(), pcx[i].Expected()});
    const QImage gradient = Gradient(37, 21);
    cases.push_back({"tga through Qt's plugin", "t.tga", Tga(gradient), gradient});
    cases.push_back({"png", "t.png", Written(gradient, "png"), gradient});
    cases.push_back({"bmp", "t.bmp", Written(gradient, "bmp"), gradient});
    // The content decides when the name's hint is wrong.
    cases.push_back({"pcx named .png", "odd.png", pcx[3].Bytes(), pcx[3].Expected()});

    cases.push_back({"pcx cut short",
                     "c.pcx",
                     PcxWithBroken([](std::string& b) { b.resize(b.size() - 769 - 40); }),
                     {}});
    cases.push_back({"pcx header only, huge size",
                     "h.pcx",
                     PcxWithBroken([](std::string& b) {
                         b.resize(128);
                         Put16(b, 8, 65535);
                         Put16(b, 10, 65535);
                         Put16(b, 66, 65535);
                     }),
                     {}});
    cases.push_back({"pcx bytes per line too small",
                     "l.pcx",
                     PcxWithBroken([](std::string& b) { Put16(b, 66, 63); }),
                     {}});
    cases.push_back({"pcx end before start",
                     "e.pcx",
                     PcxWithBroken([](std::string& b) { Put16(b, 8, 1); }),
                     {}});
    cases.push_back(
        {"pcx 8 bits in 2 planes", "u.pcx", PcxWithBroken([](std::string& b) { b[65] = 2; }), {}});
    cases.push_back(
        {"pcx unknown encoding", "n.pcx", PcxWithBroken([](std::string& b) { b[2] = 2; }), {}});
    cases.push_back({"tga cut short", "t.tga", Tga(gradient).substr(0, 400), {}});
    return cases;
}

TEST(PreviewImageTest, EveryFormatReadsPixelForPixelAndHostileOnesAreRefused) {
    ASSERT_TRUE(QImageReader::supportedImageFormats().contains("pcx"));
    if (!QImageReader::supportedImageFormats().contains("tga"))
        GTEST_SKIP() << "Qt's image-format plugins are missing (qt6-image-formats-plugins)";
    FakeDialogs dialogs;
    PreviewWindow window(dialogs);
    for (const ImageCase& c : ImageCases()) {
        QString why;
        const QImage read = ReadPreviewImage(QString::fromStdString(c.name),
                                             QByteArray::fromStdString(c.bytes), why);
        window.Show(c.name, c.bytes);
        EXPECT_EQ(window.Kind(), PreviewKind::Image) << c.row;
        if (c.expected.isNull()) {
            EXPECT_TRUE(read.isNull()) << c.row;
            EXPECT_TRUE(window.Image().isNull()) << c.row;
            EXPECT_FALSE(window.Note().isEmpty()) << c.row;
            continue;
        }
        ExpectSamePixels(read, c.expected, c.row);
        ExpectSamePixels(window.Image(), c.expected, c.row);
        EXPECT_TRUE(window.Note().isEmpty()) << c.row;
    }
}

TEST(PreviewImageTest, PictureOverTheAllocationLimitIsRefusedUnallocated) {
    // 8193 x 8193 at 4 bytes a pixel is just over 256 MiB; run-length makes it 2 MiB of file.
    const std::string bytes = LargePcx(8193, 8193);
    QBuffer buffer;
    buffer.setData(QByteArray::fromStdString(bytes));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "pcx");
    EXPECT_EQ(reader.size(), QSize(8193, 8193)); // the header itself is sound
    const bool measured = !UnderAddressSanitizer() && ResetPeakResident();
    const long before = PeakResidentKiB();
    FakeDialogs dialogs;
    PreviewWindow window(dialogs);
    window.Show("big.pcx", bytes);
    EXPECT_TRUE(window.Image().isNull());
    EXPECT_TRUE(window.Note().contains(QStringLiteral("big.pcx"))) << window.Note().toStdString();
    if (measured) {
        EXPECT_LT(PeakResidentKiB() - before, 64 * 1024) << "the picture was allocated";
    }
    // The same picture, smaller, is shown: the size alone refused it.
    window.Show("big.pcx", LargePcx(1024, 1000));
    EXPECT_EQ(window.Image().size(), QSize(1024, 1000));
}

std::string Wav(int milliseconds) {
    const unsigned rate = 8000, samples = rate * unsigned(milliseconds) / 1000;
    std::string out = "RIFF____WAVEfmt ";
    auto put32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out += char(v >> (8 * i));
    };
    put32(16);
    out += {1, 0, 1, 0}; // PCM, one channel
    put32(rate);
    put32(rate * 2);
    out += {2, 0, 16, 0};
    out += "data";
    put32(samples * 2);
    for (unsigned i = 0; i < samples; ++i)
        out += {char(i * 37), char((i / 8) % 64)};
    Put16(out, 4, unsigned(out.size() - 8));
    return out;
}

TEST(PreviewTest, EachEntryGetsItsView) {
    struct Row {
        std::string name;
        std::string bytes;
        PreviewKind kind;
    };
    const std::string binary("MDL\0\x01\x02", 6);
    const Row rows[] = {
        {"textures\\wall.PCX", PcxWithBroken([](std::string&) {}), PreviewKind::Image},
        {"sound\\intro.mp3", "ID3", PreviewKind::Sound},
        {"sound\\step.WAV", Wav(10), PreviewKind::Sound},
        {"readme.txt", binary, PreviewKind::Text}, // .txt is text whatever it holds
        {"maps\\e1m1.cfg", "bind x\r\nmap e1m1\tok\x1a", PreviewKind::Text},
        {"latin1.ini", "caf\xe9\n", PreviewKind::Text}, // any 8-bit code page reads as text
        {"models\\x.mdl", binary, PreviewKind::Hex},
        {"escape.log", "a\x1b[31mred", PreviewKind::Hex},
        {"del.bin", "abc\x7f", PreviewKind::Hex},
        {"noext", "", PreviewKind::Text},
        {"dir.pcx\\file", "\x01", PreviewKind::Hex}, // a folder's dot is no extension
    };
    FakeDialogs dialogs;
    PreviewWindow window(dialogs);
    for (const Row& row : rows) {
        EXPECT_EQ(ChoosePreviewKind(row.name, row.bytes), row.kind) << row.name;
        window.Show(row.name, row.bytes);
        EXPECT_EQ(window.Kind(), row.kind) << row.name;
    }
    window.ShowDamaged("maps\\broken.gdb", "zlib stream does not inflate");
    EXPECT_EQ(window.Kind(), PreviewKind::Damaged);
    EXPECT_TRUE(window.Note().contains(QStringLiteral("zlib stream does not inflate")));
    EXPECT_EQ(window.LineCount(), 0);
    EXPECT_TRUE(window.Image().isNull());
}

TEST(PreviewTest, TextLinesAndHexRows) {
    FakeDialogs dialogs;
    PreviewWindow window(dialogs);
    window.Show("a.txt", "caf\xc3\xa9\r\n\tx\n" + std::string(2500, 'w'));
    ASSERT_EQ(window.LineCount(), 5); // the 2500 bytes are broken into rows of 1024
    EXPECT_EQ(window.LineText(0), QStringLiteral("caf\u00c3\u00a9"));
    EXPECT_EQ(window.LineText(1), QStringLiteral("        x"));
    EXPECT_EQ(window.LineText(4).size(), 2500 - 2 * 1024);
    window.SetUtf8(true);
    EXPECT_EQ(window.LineText(0), QStringLiteral("caf\u00e9"));

    std::string bytes(100 * 1024, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    bytes.replace(0, 5, "AB\x01\xe9\x90");
    window.Show("x.bin", bytes);
    ASSERT_EQ(window.Kind(), PreviewKind::Hex);
    ASSERT_EQ(window.LineCount(), 4096); // the first 64 KiB
    EXPECT_EQ(window.LineText(0), QStringLiteral("00000000  41 42 01 e9 90 23 2a 31 38 3f 46 4d 54 "
                                                 "5b 62 69  AB.\u00e9.#*18?FMT[bi"));
    EXPECT_TRUE(window.LineText(4095).startsWith(QStringLiteral("0000fff0  90 97")));
    window.Show("short.bin", std::string("\0\1\2", 3));
    ASSERT_EQ(window.LineCount(), 1);
    EXPECT_EQ(window.LineText(0), QStringLiteral("00000000  00 01 02") + QString(13 * 3 + 1, ' ') +
                                      QStringLiteral(" ..."));
}

TEST(PreviewTest, ShowEntryDecodesThroughTheArchive) {
    const PcxPicture picture{
        40,   30,    8, 3,
        true, false, 0, [](unsigned x, unsigned y, unsigned p) { return (x + y + p) % 256; }};
    ArchiveBuilder builder;
    builder.AddPacked("art\\title.pcx", picture.Bytes());
    builder.AddStored("readme.txt", "hello\n");
    builder.AddRaw("maps\\broken.gdb", "not zlib", 100, 8);
    builder.AddRaw("cut.txt", "abc", 10, 0).dataOffset = 0x7fffff00; // past the end of the file
    TempDir dir;
    WriteFile(dir / "a.dat", builder.Build());
    MessageRecorder messages;
    ListRecorder list;
    NullProgressSink progress;
    DatArchive archive(messages, list, progress);
    ASSERT_TRUE(archive.Open(dir / "a.dat"));
    ASSERT_TRUE(archive.LoadDirectory());
    EntryWriter writer;
    FakeDialogs dialogs;
    PreviewWindow window(dialogs);

    window.ShowEntry(archive, 0, writer);
    ASSERT_EQ(window.Kind(), PreviewKind::Image);
    ExpectSamePixels(window.Image(), picture.Expected(), "packed pcx");
    window.ShowEntry(archive, 1, writer);
    EXPECT_EQ(window.Kind(), PreviewKind::Text);
    EXPECT_EQ(window.LineText(0), QStringLiteral("hello"));
    for (std::uint32_t damaged : {2u, 3u}) {
        window.ShowEntry(archive, damaged, writer);
        EXPECT_EQ(window.Kind(), PreviewKind::Damaged) << damaged;
        EXPECT_EQ(window.LineCount(), 0) << damaged;
    }
    // The preview's notes are its own: no boxes.
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_TRUE(messages.failures.empty());
}

TEST(PreviewTest, SaveAsPngReplacesTheChosenFileWhole) {
    struct SaveDialogs : FakeDialogs {
        QString ChooseSaveFile(QWidget*, const QString& suggested, const QString&) override {
            this->suggested = suggested;
            return path;
        }
        QString path, suggested;
    };
    TempDir dir;
    WriteFile(dir / "old.png", "an older file");
    SaveDialogs dialogs;
    dialogs.path = QString::fromStdString(dir / "old.png");
    PreviewWindow window(dialogs);
    window.SetSaveFolder(QString::fromStdString(dir.Path()));
    const QImage gradient = Gradient(20, 10);
    window.Show("ui\\menu.bmp", Written(gradient, "bmp"));
    ASSERT_TRUE(window.SaveAsPng());
    EXPECT_EQ(dialogs.suggested, QString::fromStdString(dir / "menu.png"));
    ExpectSamePixels(QImage(dialogs.path, "png"), gradient, "saved");
    EXPECT_EQ(ListTree(dir.Path()), "old.png\n"); // no temporary file left beside it

    dialogs.path = QString::fromStdString(dir / "missing/x.png");
    EXPECT_FALSE(window.SaveAsPng());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    dialogs.path.clear(); // cancelled
    EXPECT_FALSE(window.SaveAsPng());
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST(PreviewTest, SoundLoadsWithItsLength) {
    FakeDialogs dialogs;
    PreviewWindow window(dialogs);
    window.Show("sound\\beep.wav", Wav(1500));
    ASSERT_EQ(window.Kind(), PreviewKind::Sound);
    QMediaPlayer* player = window.Player();
    ASSERT_NE(player, nullptr);
    if (!player->isAvailable())
        GTEST_SKIP() << "no Qt Multimedia back end on this machine";
    QElapsedTimer waited;
    waited.start();
    while (player->mediaStatus() != QMediaPlayer::LoadedMedia &&
           player->error() == QMediaPlayer::NoError && waited.elapsed() < 10000)
        QTest::qWait(20);
    ASSERT_EQ(player->error(), QMediaPlayer::NoError) << player->errorString().toStdString();
    ASSERT_EQ(player->mediaStatus(), QMediaPlayer::LoadedMedia);
    EXPECT_NEAR(double(player->duration()), 1500.0, 50.0);
    EXPECT_TRUE(window.Note().isEmpty());
}

} // namespace
