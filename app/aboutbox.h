#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace velmora {

// The about box: product, edition, version, author and homepage; one button.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(QWidget *owner);

    QLabel *picIcon = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblDescription = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *cmdOK = nullptr;

    void cmdOK_Click();
};

} // namespace velmora
