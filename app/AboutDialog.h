// The About box: icon, the program's name and version, and who made it.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutDialog;
}

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    QString Text() const;

private:
    std::unique_ptr<Ui::AboutDialog> ui_;
};
