#include "aboutbox.h"

#include <QLabel>
#include <QPushButton>

namespace velmora {

namespace {
// Designed in twips, 15 to a pixel, as the main window.
constexpr int boxPx(int twips) { return twips / 15; }

QLabel *makeLabel(const QString &text, int leftTwips, int topTwips, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->move(boxPx(leftTwips), boxPx(topTwips));
    label->adjustSize(); // one line, sized to its text
    return label;
}
} // namespace

frmAbout::frmAbout(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                         | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("关于"));
    setWindowIcon(owner ? owner->windowIcon() : QIcon(QStringLiteral(":/icons/velmora.png")));
    setFixedSize(boxPx(3720), boxPx(1905));
    setModal(true);

    // Created in tab order: the button first, so it has the focus when the box opens.
    cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(boxPx(1320), boxPx(1320), boxPx(1020), boxPx(345));
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);

    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(windowIcon().pixmap(32, 32));
    picIcon->setGeometry(boxPx(240), boxPx(240), boxPx(480), boxPx(480));
    picIcon->setAccessibleName(QStringLiteral("Velmora"));

    lblTitle = makeLabel(QStringLiteral("Velmora2004版"), 930, 120, this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QPalette black = lblTitle->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    lblTitle->setPalette(black);
    lblVersion = makeLabel(QStringLiteral("版本：1.0"), 930, 420, this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblDescription = makeLabel(QStringLiteral("作者：Velmora 开发组"), 930, 720, this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    Label1 = makeLabel(QStringLiteral("主页：https://velmora.org/"), 930, 1020, this);
    Label1->setObjectName(QStringLiteral("Label1"));

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    cmdOK->setFocus();
}

// Esc rejects the dialog, which closes it the same way.
void frmAbout::cmdOK_Click()
{
    accept();
}

} // namespace velmora

#include "moc_aboutbox.cpp"
