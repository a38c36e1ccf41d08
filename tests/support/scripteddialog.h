#pragma once

#include "filedialog.h"

#include <QStringList>

namespace velmora::test {

// A file dialog whose answers are queued by the test. An empty answer, or none
// queued, is a Cancel: FileName stays as the handler set it.
class ScriptedDialog final : public FileDialog
{
public:
    QStringList answers;
    QStringList shown; // "open:<filter>" / "save:<filter>", one per showing
    QString fileNameWhenShown;

    void ShowOpen() override { show(QStringLiteral("open:")); }
    void ShowSave() override { show(QStringLiteral("save:")); }

private:
    void show(const QString &kind)
    {
        shown << kind + Filter;
        fileNameWhenShown = FileName;
        if (!answers.isEmpty()) {
            const QString answer = answers.takeFirst();
            if (!answer.isEmpty())
                FileName = answer;
        }
    }
};

} // namespace velmora::test
