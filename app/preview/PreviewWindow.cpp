// The preview window. Entries are shown from bytes held once, in place: pictures are read by
// QImageReader from a buffer over them, sounds played from one, and the text and hex views are
// a list model that formats only the rows on screen, so a 16 MiB entry shows as fast as a small
// one.
#include "PreviewWindow.h"

#include "ByteSink.h"
#include "DatArchive.h"
#include "Extraction.h"
#include "UserDialogs.h"

#include <QAbstractListModel>
#include <QAudioOutput>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QListView>
#include <QMediaPlayer>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>

void ChooseSoundBackend() {
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
}

// The picture, fitted to the widget (keeping its proportions) or at its own size. The fitted
// copy is made once per size, not on every paint.
class ImageView : public QWidget {
public:
    using QWidget::QWidget;

    void SetImage(const QImage* image) {
        image_ = image;
        scaled_ = QImage();
        updateGeometry();
        update();
    }
    void SetFits(bool fits) {
        fits_ = fits;
        scaled_ = QImage();
        updateGeometry();
        update();
    }
    bool Fits() const { return fits_; }
    QSize sizeHint() const override { return image_ && !fits_ ? image_->size() : QSize(256, 256); }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!image_ || image_->isNull())
            return;
        QPainter painter(this);
        if (!fits_) {
            painter.drawImage(0, 0, *image_);
            return;
        }
        const QSize target = image_->size().scaled(size(), Qt::KeepAspectRatio);
        if (target.isEmpty())
            return;
        if (scaled_.size() != target) {
            // Smooth when making smaller; a small picture grows in whole pixels, as drawn. A
            // picture many times the window is first thinned to twice its size: smoothing all
            // of a 4096 x 4096 picture costs more than the rest of showing it.
            const bool smaller = target.width() < image_->width();
            if (!smaller) {
                scaled_ = image_->scaled(target, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            } else if (image_->width() > 4 * target.width() &&
                       image_->height() > 4 * target.height()) {
                scaled_ = image_->scaled(target * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                              .scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            } else {
                scaled_ = image_->scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            }
        }
        painter.drawImage((width() - target.width()) / 2, (height() - target.height()) / 2,
                          scaled_);
    }

private:
    const QImage* image_ = nullptr;
    QImage scaled_;
    bool fits_ = true;
};

// Rows of the text or hex view, made when the view asks for them.
class LinesModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void SetText(std::string_view text, bool utf8) {
        beginResetModel();
        text_ = text;
        hex_ = false;
        utf8_ = utf8;
        lines_ = SplitTextLines(text);
        endResetModel();
    }
    void SetHex(std::string_view bytes) {
        beginResetModel();
        text_ = bytes;
        hex_ = true;
        lines_.clear();
        lines_.shrink_to_fit();
        endResetModel();
    }
    void SetUtf8(bool utf8) {
        beginResetModel();
        utf8_ = utf8;
        endResetModel();
    }
    void Clear() {
        beginResetModel();
        text_ = {};
        lines_.clear();
        lines_.shrink_to_fit();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        if (parent.isValid())
            return 0;
        return int(hex_ ? HexRowCount(text_) : lines_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
            return {};
        return Row(index.row());
    }
    QString Row(int row) const {
        if (hex_) {
            char out[kHexRowChars];
            const std::size_t length = FormatHexRow(text_, std::size_t(row), out);
            return QString::fromLatin1(out, qsizetype(length));
        }
        const TextLine& line = lines_[std::size_t(row)];
        const char* start = text_.data() + line.start;
        QString shown = utf8_ ? QString::fromUtf8(start, qsizetype(line.length))
                              : QString::fromLatin1(start, qsizetype(line.length));
        // Tabs to the next multiple of eight columns: the view draws them as nothing.
        if (shown.contains(QLatin1Char('\t'))) {
            QString expanded;
            for (QChar c : shown) {
                if (c != QLatin1Char('\t'))
                    expanded += c;
                else
                    expanded += QString(8 - expanded.size() % 8, QLatin1Char(' '));
            }
            shown = expanded;
        }
        return shown;
    }

private:
    std::string_view text_;
    bool hex_ = false;
    bool utf8_ = false;
    std::vector<TextLine> lines_;
};

namespace {

QString Latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QString Clock(qint64 ms) {
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Decoding for the preview shows nothing of its own: what went wrong is the preview's note.
class QuietMessages final : public MessageSink {
public:
    void ShowMessage(std::string_view, std::string_view) override {}
    FailureAnswer ReportFailure(const FailureReport&) override { return FailureAnswer::Ok; }
};

} // namespace

QImage ReadPreviewImage(const QString& name, const QByteArray& bytes, QString& why) {
    const QByteArray suffix = QFileInfo(name).suffix().toLower().toLatin1();
    QImage image;
    for (bool fromContent : {false, true}) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, suffix);
        reader.setDecideFormatFromContent(fromContent);
        reader.setAllocationLimit(kPreviewImageLimitMiB);
        reader.setAutoTransform(true);
        if (reader.read(&image))
            return image;
        if (!fromContent)
            why = reader.errorString();
    }
    return {};
}

PreviewWindow::PreviewWindow(UserDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs), saveFolder_(QDir::homePath()) {
    setWindowTitle(QStringLiteral("Preview"));
    resize(640, 480);
    pages_ = new QStackedWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages_);

    note_ = new QLabel(pages_);
    note_->setAlignment(Qt::AlignCenter);
    note_->setWordWrap(true);
    note_->setTextFormat(Qt::PlainText); // a name that looks like markup is shown as it is
    note_->setMargin(12);
    pages_->addWidget(note_);

    imagePage_ = new QWidget(pages_);
    auto* imageLayout = new QVBoxLayout(imagePage_);
    auto* imageBar = new QHBoxLayout;
    auto* fit = new QCheckBox(QStringLiteral("Fit to window"), imagePage_);
    fit->setChecked(true);
    fit_ = fit;
    auto* save = new QPushButton(QStringLiteral("Save as PNG..."), imagePage_);
    imageBar->addWidget(fit);
    imageBar->addStretch();
    imageBar->addWidget(save);
    imageLayout->addLayout(imageBar);
    scroll_ = new QScrollArea(imagePage_);
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setWidgetResizable(true);
    imageView_ = new ImageView(scroll_);
    scroll_->setWidget(imageView_);
    imageLayout->addWidget(scroll_, 1);
    pages_->addWidget(imagePage_);
    connect(fit, &QCheckBox::toggled, this, &PreviewWindow::SetFits);
    connect(save, &QPushButton::clicked, this, &PreviewWindow::SaveAsPng);

    soundPage_ = new QWidget(pages_);
    auto* soundLayout = new QVBoxLayout(soundPage_);
    auto* soundBar = new QHBoxLayout;
    auto* play = new QPushButton(QStringLiteral("Play"), soundPage_);
    auto* stop = new QPushButton(QStringLiteral("Stop"), soundPage_);
    soundPosition_ = new QSlider(Qt::Horizontal, soundPage_);
    soundTime_ = new QLabel(soundPage_);
    soundBar->addWidget(play);
    soundBar->addWidget(stop);
    soundBar->addWidget(soundPosition_, 1);
    soundBar->addWidget(soundTime_);
    soundLayout->addStretch();
    soundLayout->addLayout(soundBar);
    soundLayout->addStretch();
    pages_->addWidget(soundPage_);
    connect(play, &QPushButton::clicked, this, [this] {
        if (player_)
            player_->play();
    });
    connect(stop, &QPushButton::clicked, this, [this] {
        if (player_)
            player_->stop();
    });
    connect(soundPosition_, &QSlider::sliderMoved, this, [this](int ms) {
        if (player_)
            player_->setPosition(ms);
    });

    linesPage_ = new QWidget(pages_);
    auto* linesLayout = new QVBoxLayout(linesPage_);
    encoding_ = new QComboBox(linesPage_);
    encoding_->addItem(QStringLiteral("Latin-1"));
    encoding_->addItem(QStringLiteral("UTF-8"));
    linesLayout->addWidget(encoding_, 0, Qt::AlignLeft);
    lines_ = new QListView(linesPage_);
    lines_->setUniformItemSizes(true);
    lines_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    lines_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lines_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lines_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    model_ = new LinesModel(lines_);
    lines_->setModel(model_);
    linesLayout->addWidget(lines_, 1);
    pages_->addWidget(linesPage_);
    connect(encoding_, &QComboBox::currentIndexChanged, this,
            [this](int index) { model_->SetUtf8(index == 1); });
}

PreviewWindow::~PreviewWindow() {
    // The player reads the buffer, which reads bytes_: it goes first.
    delete player_;
}

void PreviewWindow::Reset(std::string_view name) {
    if (player_) {
        player_->stop();
        player_->setSourceDevice(nullptr);
    }
    if (soundBytes_)
        soundBytes_->close();
    imageView_->SetImage(nullptr);
    image_ = QImage();
    model_->Clear();
    bytes_.clear();
    bytes_.shrink_to_fit();
    name_ = Latin1(name);
    setWindowTitle(QStringLiteral("Preview - %1").arg(name_));
}

void PreviewWindow::ShowNote(PreviewKind kind, const QString& text) {
    kind_ = kind;
    note_->setText(text);
    pages_->setCurrentWidget(note_);
}

QString PreviewWindow::Note() const {
    return pages_->currentWidget() == note_ ? note_->text() : QString();
}

void PreviewWindow::Show(std::string_view name, std::string bytes) {
    Reset(name);
    bytes_ = std::move(bytes);
    kind_ = ChoosePreviewKind(name, bytes_);
    switch (kind_) {
    case PreviewKind::Image:
        ShowImage();
        break;
    case PreviewKind::Sound:
        ShowSound();
        break;
    case PreviewKind::Text:
        ShowLines(false);
        break;
    case PreviewKind::Hex:
    case PreviewKind::Damaged:
        ShowLines(true);
        break;
    }
}

void PreviewWindow::ShowDamaged(std::string_view name, std::string_view reason) {
    Reset(name);
    ShowNote(
        PreviewKind::Damaged,
        QStringLiteral("%1 is damaged (%2): nothing of it is shown.").arg(name_, Latin1(reason)));
}

void PreviewWindow::ShowEntry(const DatArchive& archive, std::uint32_t index, EntryWriter& writer) {
    const std::string_view name = archive.EntryName(index);
    const std::uint32_t real = archive.Entries()[index].entry.realSize;
    if (real > kPreviewByteLimit) {
        Reset(name);
        ShowNote(PreviewKind::Hex,
                 QStringLiteral("%1 holds %2 bytes, more than the preview takes (%3 MiB).")
                     .arg(name_)
                     .arg(real)
                     .arg(kPreviewByteLimit >> 20));
        return;
    }
    MemorySink sink(kPreviewByteLimit);
    QuietMessages quiet;
    const EntryResult result = writer.DecodeEntry(archive, index, sink, quiet);
    if (result.outcome != EntryOutcome::Written) {
        ShowDamaged(name, result.error ? std::strerror(result.error) : result.detail);
        return;
    }
    Show(name, sink.Take());
}

void PreviewWindow::ShowImage() {
    QString why;
    image_ = ReadPreviewImage(
        name_, QByteArray::fromRawData(bytes_.data(), qsizetype(bytes_.size())), why);
    if (image_.isNull()) {
        ShowNote(PreviewKind::Image,
                 QStringLiteral("%1 cannot be shown as a picture: %2.").arg(name_, why));
        return;
    }
    imageView_->SetImage(&image_);
    SetFits(fit_->isChecked());
    pages_->setCurrentWidget(imagePage_);
}

bool PreviewWindow::Fits() const {
    return imageView_->Fits();
}

void PreviewWindow::SetFits(bool fit) {
    if (fit_->isChecked() != fit)
        fit_->setChecked(fit); // comes back here through toggled
    imageView_->SetFits(fit);
    scroll_->setWidgetResizable(fit);
    if (!fit && !image_.isNull())
        imageView_->resize(image_.size());
}

bool PreviewWindow::SaveAsPng() {
    if (image_.isNull())
        return false;
    const QString suggested =
        QDir(saveFolder_)
            .filePath(QFileInfo(QString(name_).replace(QLatin1Char('\\'), QLatin1Char('/')))
                          .completeBaseName() +
                      QStringLiteral(".png"));
    const QString path =
        dialogs_.ChooseSaveFile(this, suggested, QStringLiteral("PNG picture (*.png)"));
    if (path.isEmpty())
        return false;
    // Written under a temporary name beside the file and renamed over it once whole, so a file
    // already there is never half-replaced.
    QSaveFile file(path);
    QImageWriter writer(&file, "png");
    if (file.open(QIODevice::WriteOnly) && writer.write(image_) && file.commit())
        return true;
    const QString why =
        writer.error() != QImageWriter::UnknownError ? writer.errorString() : file.errorString();
    file.cancelWriting();
    dialogs_.ShowMessage(this, QStringLiteral("Could not save %1: %2").arg(path, why),
                         QStringLiteral("Error!"));
    return false;
}

void PreviewWindow::ShowSound() {
    if (!player_) {
        player_ = new QMediaPlayer(this);
        audio_ = new QAudioOutput(player_);
        player_->setAudioOutput(audio_);
        soundBytes_ = new QBuffer(this);
        connect(player_, &QMediaPlayer::durationChanged, this, [this](qint64 ms) {
            soundPosition_->setRange(0, int(ms));
            UpdateTime();
        });
        connect(player_, &QMediaPlayer::positionChanged, this, [this](qint64 ms) {
            if (!soundPosition_->isSliderDown())
                soundPosition_->setValue(int(ms));
            UpdateTime();
        });
        connect(player_, &QMediaPlayer::errorOccurred, this,
                [this](QMediaPlayer::Error, const QString& why) {
                    if (kind_ == PreviewKind::Sound)
                        ShowNote(PreviewKind::Sound,
                                 QStringLiteral("%1 cannot be played: %2").arg(name_, why));
                });
    }
    soundPosition_->setRange(0, 0);
    soundTime_->setText(Clock(0) + QStringLiteral(" / ") + Clock(0));
    soundBytes_->setData(QByteArray::fromRawData(bytes_.data(), qsizetype(bytes_.size())));
    soundBytes_->open(QIODevice::ReadOnly);
    pages_->setCurrentWidget(soundPage_);
    // The name tells the back end the format, as a file's would.
    player_->setSourceDevice(soundBytes_, QUrl::fromLocalFile(QFileInfo(name_).fileName()));
}

void PreviewWindow::UpdateTime() {
    if (player_)
        soundTime_->setText(Clock(player_->position()) + QStringLiteral(" / ") +
                            Clock(player_->duration()));
}

void PreviewWindow::ShowLines(bool hex) {
    encoding_->setVisible(!hex);
    if (hex)
        model_->SetHex(bytes_);
    else
        model_->SetText(bytes_, encoding_->currentIndex() == 1);
    lines_->scrollToTop();
    pages_->setCurrentWidget(linesPage_);
}

void PreviewWindow::SetUtf8(bool utf8) {
    encoding_->setCurrentIndex(utf8 ? 1 : 0);
}

int PreviewWindow::LineCount() const {
    return model_->rowCount();
}

QString PreviewWindow::LineText(int line) const {
    return line >= 0 && line < model_->rowCount() ? model_->Row(line) : QString();
}
