#pragma once

#include <QString>

class QWidget;

namespace velmora {

// The program's one file dialog. Handlers set FileName and Filter, show it, and read
// FileName back; a cancelled dialog leaves FileName as it was set.
// Filter uses the "description|pattern;pattern" form, e.g. "*.mp3|*.mp3".
class FileDialog
{
public:
    virtual ~FileDialog() = default;
    QString FileName;
    QString Filter;
    virtual void ShowOpen() = 0;
    virtual void ShowSave() = 0;
};

// Turns "desc|*.a;*.b" into Qt's "desc (*.a *.b)".
QString qtFilterFromPipeFilter(const QString &pipeFilter);

// The real dialog, a QFileDialog parented to the main window.
class QtFileDialog final : public FileDialog
{
public:
    explicit QtFileDialog(QWidget *parent) : m_parent(parent) {}
    void ShowOpen() override;
    void ShowSave() override;

private:
    QWidget *m_parent;
};

} // namespace velmora
