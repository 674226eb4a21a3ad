// The preview: a separate, resizable, non-modal window showing one entry at a time, as it is
// selected. Pictures (png, bmp, tga, pcx) fit to the window or at 100 % and can be saved as
// png; sounds (wav, mp3) play; text is shown read-only (Latin-1 unless UTF-8 is chosen);
// anything else as hex, the first 64 KiB. A damaged entry is named as such and nothing of it
// is shown.
#pragma once

#include "PreviewContent.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class DatArchive;
class EntryWriter;
class QAbstractButton;
class QAudioOutput;
class QBuffer;
class QComboBox;
class QLabel;
class QListView;
class QMediaPlayer;
class QScrollArea;
class QSlider;
class QStackedWidget;
class UserDialogs;
class ImageView;
class LinesModel;

// What the preview holds at most of one entry; a larger one is not decoded.
inline constexpr std::size_t kPreviewByteLimit = 256u << 20;
// The pixels a picture may take, in MiB (QImageReader's allocation limit).
inline constexpr int kPreviewImageLimitMiB = 256;

// The sound back end Qt Multimedia uses unless the user chose one (QT_MEDIA_BACKEND): ffmpeg,
// which Qt Multimedia's own package brings along, plays wav and mp3 from memory on a system
// without GStreamer's plugins. Call before any thread starts (it sets the environment).
void ChooseSoundBackend();

// How the preview reads a picture: QImageReader over bytes in memory, the name's extension as
// the first guess and the content when that fails, at most kPreviewImageLimitMiB of pixels. A
// null image, with why, when it cannot be read.
QImage ReadPreviewImage(const QString& name, const QByteArray& bytes, QString& why);

class PreviewWindow : public QWidget {
    Q_OBJECT

public:
    explicit PreviewWindow(UserDialogs& dialogs, QWidget* parent = nullptr);
    ~PreviewWindow() override;

    // Shows the entry name (stored bytes, read as Latin-1) holding bytes.
    void Show(std::string_view name, std::string bytes);
    // Shows that the entry is damaged, and why; nothing of its bytes.
    void ShowDamaged(std::string_view name, std::string_view reason);
    // Decodes entry index into memory through writer and shows it (or its damage).
    void ShowEntry(const DatArchive& archive, std::uint32_t index, EntryWriter& writer);
    // Where "Save as PNG..." starts (the archive's folder, say); the home folder unless set.
    void SetSaveFolder(const QString& folder) { saveFolder_ = folder; }

    // What is shown, for the window's owner and its tests.
    PreviewKind Kind() const { return kind_; }
    const QImage& Image() const { return image_; }
    // The note shown instead of content: why a picture or sound cannot be shown, the damage.
    QString Note() const;
    int LineCount() const;
    QString LineText(int line) const;
    QMediaPlayer* Player() const { return player_; }
    // True when pictures fit the window, false at 100 %.
    bool Fits() const;
    void SetFits(bool fit);
    void SetUtf8(bool utf8);
    // Writes the picture shown as png to a path the user chooses; false when cancelled or failed
    // (a failure is shown).
    bool SaveAsPng();

private:
    void Reset(std::string_view name);
    void ShowNote(PreviewKind kind, const QString& text);
    void ShowImage();
    void ShowSound();
    void ShowLines(bool hex);
    void UpdateTime();

    UserDialogs& dialogs_;
    std::string bytes_; // the entry shown; the views read it in place
    QString name_;
    PreviewKind kind_ = PreviewKind::Hex;
    QImage image_;
    QString saveFolder_;

    QStackedWidget* pages_;
    QLabel* note_;
    QWidget* imagePage_;
    QScrollArea* scroll_;
    ImageView* imageView_;
    QAbstractButton* fit_;
    QWidget* soundPage_;
    QLabel* soundTime_;
    QSlider* soundPosition_;
    QWidget* linesPage_;
    QComboBox* encoding_;
    QListView* lines_;
    LinesModel* model_;
    // Made on the first sound: Qt Multimedia starts its back end then, not with the window.
    QMediaPlayer* player_ = nullptr;
    QAudioOutput* audio_ = nullptr;
    QBuffer* soundBytes_ = nullptr;
};
