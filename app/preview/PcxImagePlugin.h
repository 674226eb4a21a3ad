// The pcx picture format for Qt: a QImageIOHandler on the pcx decoder and the plugin that makes
// every QImageReader of the program use it. Built as a static plugin: linking this library is
// what registers it.
#pragma once

#include <QImageIOHandler>
#include <QImageIOPlugin>

class PcxImageHandler : public QImageIOHandler {
public:
    bool canRead() const override;
    bool read(QImage* image) override;
    QVariant option(ImageOption option) const override;
    bool supportsOption(ImageOption option) const override;

    // The pcx manufacturer byte and a known encoding at the device's position, without reading.
    static bool CanRead(QIODevice* device);
};

class PcxImagePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "pcx.json")

public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};
