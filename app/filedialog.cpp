#include "filedialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QStringList>

#include <optional>

namespace velmora {

namespace {

// "*.mp3; *.m3u" -> "*.mp3 *.m3u", the separator Qt expects inside the brackets.
QString qtPatternList(const QString &pipePatterns)
{
    QStringList patterns;
    for (const QString &pattern : pipePatterns.split(u';')) {
        const QString trimmed = pattern.trimmed();
        if (!trimmed.isEmpty())
            patterns.append(trimmed);
    }
    return patterns.isEmpty() ? QStringLiteral("*") : patterns.join(u' ');
}

enum class DialogMode { Open, Save };

// Starts the dialog where the handler's file name points, if it points anywhere real.
void startAtFileName(QFileDialog &dialog, const QString &fileName, DialogMode mode)
{
    if (fileName.isEmpty())
        return;
    const QFileInfo info(QDir::fromNativeSeparators(fileName));
    if (info.isDir()) {
        dialog.setDirectory(info.absoluteFilePath());
        return;
    }
    if (!info.absoluteDir().exists())
        return;
    dialog.setDirectory(info.absolutePath());
    if (mode == DialogMode::Save || info.exists())
        dialog.selectFile(info.fileName());
}

std::optional<QString> runFileDialog(QWidget *parent, const QString &fileName, const QString &filter,
                                     DialogMode mode)
{
    // The parent owns the dialog, should it be destroyed while the dialog is open;
    // otherwise the dialog goes when this function returns.
    QPointer<QFileDialog> dialog = new QFileDialog(parent);
    const auto deleteDialog = qScopeGuard([&dialog] { delete dialog.data(); });

    // Qt's own dialog behaves alike on every desktop and takes a full path typed into
    // its file name box, which is what keyboard users and scripted checks rely on.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setModal(true);
    if (mode == DialogMode::Open) {
        dialog->setWindowTitle(QStringLiteral("打开"));
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        // A typed name is taken as typed, even one that is not there: the command
        // that asked then says what is wrong with it, in the status bar.
        dialog->setFileMode(QFileDialog::AnyFile);
    } else {
        dialog->setWindowTitle(QStringLiteral("保存"));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        // A typed name is used exactly as typed, and saving over a playlist is the
        // usual thing to do, so neither a suffix nor a confirmation is added.
        dialog->setDefaultSuffix(QString());
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    }
    const QString qtFilter = qtFilterFromPipeFilter(filter);
    if (!qtFilter.isEmpty())
        dialog->setNameFilter(qtFilter);
    // The type box shows each filter's description alone; Qt would add the patterns again.
    dialog->setOption(QFileDialog::HideNameFilterDetails, true);
    startAtFileName(*dialog, fileName, mode);

    const int outcome = dialog->exec();
    if (!dialog || outcome != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(QFileInfo(chosen.first()).absoluteFilePath());
}

} // namespace

QString qtFilterFromPipeFilter(const QString &pipeFilter)
{
    if (pipeFilter.trimmed().isEmpty())
        return QString();
    // "desc|patterns" pairs, any number of them; a lone pattern list describes itself.
    const QStringList parts = pipeFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const bool hasPatterns = i + 1 < parts.size();
        const QString patterns = qtPatternList(hasPatterns ? parts.at(i + 1) : parts.at(i));
        const QString description = hasPatterns ? parts.at(i).trimmed() : QString();
        filters.append((description.isEmpty() ? patterns : description) + QStringLiteral(" (") + patterns
                       + u')');
    }
    return filters.join(QStringLiteral(";;"));
}

void QtFileDialog::ShowOpen()
{
    if (const auto chosen = runFileDialog(m_parent, FileName, Filter, DialogMode::Open))
        FileName = *chosen;
}

void QtFileDialog::ShowSave()
{
    if (const auto chosen = runFileDialog(m_parent, FileName, Filter, DialogMode::Save))
        FileName = *chosen;
}

} // namespace velmora
