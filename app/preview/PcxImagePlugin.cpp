// The Qt side of the pcx format: the header is read and checked first, the image allocated
// through QImageIOHandler::allocateImage (so QImageReader's allocation limit holds), and only
// then are the pixels decoded into it.
#include "PcxImagePlugin.h"

#include "PcxCodec.h"

#include <QBuffer>
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QVariant>

#include <span>

bool PcxImageHandler::CanRead(QIODevice* device) {
    if (!device)
        return false;
    // Manufacturer, version, encoding and bits per plane: enough that text or another format
    // is not taken for a picture.
    const QByteArray head = device->peek(4);
    if (head.size() < 4 || head[0] != '\x0a')
        return false;
    const char version = head[1], encoding = head[2], bits = head[3];
    return (version == 0 || (version >= 2 && version <= 5)) && (encoding == 0 || encoding == 1) &&
           (bits == 1 || bits == 2 || bits == 4 || bits == 8);
}

bool PcxImageHandler::canRead() const {
    if (!CanRead(device()))
        return false;
    setFormat("pcx");
    return true;
}

namespace {

std::span<const std::uint8_t> Bytes(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

} // namespace

bool PcxImageHandler::read(QImage* image) {
    QIODevice* dev = device();
    if (!dev)
        return false;
    // The whole of a pcx file is its image (the palette sits at its very end), so it is read
    // whole; from a buffer (the preview's bytes, already in memory) without a copy.
    QByteArray file;
    std::span<const std::uint8_t> bytes;
    if (auto* buffer = qobject_cast<QBuffer*>(dev); buffer && buffer->pos() <= buffer->size()) {
        bytes = Bytes(buffer->data()).subspan(std::size_t(buffer->pos()));
        buffer->seek(buffer->size());
    } else {
        file = dev->readAll();
        bytes = Bytes(file);
    }
    PcxInfo info;
    if (ReadPcxHeader(bytes, info) != PcxProblem::None)
        return false;
    QImage decoded;
    if (!allocateImage(QSize(int(info.width), int(info.height)), QImage::Format_RGB32, &decoded))
        return false;
    if (!DecodePcx(bytes, info, reinterpret_cast<std::uint32_t*>(decoded.bits()),
                   std::size_t(decoded.bytesPerLine()) / 4))
        return false;
    *image = std::move(decoded);
    return true;
}

bool PcxImageHandler::supportsOption(ImageOption option) const {
    return option == Size || option == ImageFormat;
}

QVariant PcxImageHandler::option(ImageOption option) const {
    if (option == ImageFormat)
        return QImage::Format_RGB32;
    if (option != Size || !device())
        return {};
    // Only the header is at hand: data too short for it is the reader's to find out.
    PcxInfo info;
    const PcxProblem problem = ReadPcxHeader(Bytes(device()->peek(qint64(kPcxHeaderSize))), info);
    if (problem != PcxProblem::None && problem != PcxProblem::ShortData)
        return {};
    return QSize(int(info.width), int(info.height));
}

QImageIOPlugin::Capabilities PcxImagePlugin::capabilities(QIODevice* device,
                                                          const QByteArray& format) const {
    if (format == "pcx")
        return CanRead;
    if (!format.isEmpty() || !device || !device->isOpen())
        return {};
    return PcxImageHandler::CanRead(device) ? CanRead : Capabilities();
}

QImageIOHandler* PcxImagePlugin::create(QIODevice* device, const QByteArray& format) const {
    auto* handler = new PcxImageHandler;
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
}
