#pragma once

#include "filedialog.h"

#include <QStringList>

#include <functional>
#include <utility>

namespace velmora::test {

// A file dialog whose answers are queued by the test. An empty answer, or none
// queued, is a Cancel: FileName stays as the handler set it.
class ScriptedDialog final : public FileDialog
{
public:
    QStringList answers;
    QStringList shown; // "open:<filter>" / "save:<filter>", one per showing
    QString fileNameWhenShown;
    // Runs while the dialog is shown, as events do while a real one waits for the user.
    std::function<void()> whileShown;

    void ShowOpen() override { show(QStringLiteral("open:")); }
    void ShowSave() override { show(QStringLiteral("save:")); }

private:
    void show(const QString &kind)
    {
        shown << kind + Filter;
        fileNameWhenShown = FileName;
        if (const std::function<void()> events = std::exchange(whileShown, {}))
            events();
        if (!answers.isEmpty()) {
            const QString answer = answers.takeFirst();
            if (!answer.isEmpty())
                FileName = answer;
        }
    }
};

} // namespace velmora::test
