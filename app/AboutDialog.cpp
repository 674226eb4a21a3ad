// The About box, laid out by its dialog template.
#include "AboutDialog.h"

#include "Resources.h"
#include "Version.h"
#include "ui_AboutDialog.h"

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>()) {
    InitResources();
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    // The name line shows the version as major.minor with two digits: 1.0.x reads "v 1.00".
    QStringList lines = ui_->aboutText->text().split(QLatin1Char('\n'));
    lines[0] = QStringLiteral("Velmorquin Extractor v %1.%2")
                   .arg(kVdatVersionMajor)
                   .arg(kVdatVersionMinor, 2, 10, QLatin1Char('0'));
    ui_->aboutText->setText(lines.join(QLatin1Char('\n')));
}

AboutDialog::~AboutDialog() = default;

QString AboutDialog::Text() const {
    return ui_->aboutText->text();
}
