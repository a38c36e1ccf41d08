#pragma once

#include "fakeengine.h"
#include "form1.h"
#include "scripteddialog.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace velmora::test {

// A main window on a fake engine and a scripted dialog, with its own program folder.
struct TestWindow
{
    QTemporaryDir folder;
    FakeEngine *engine = nullptr;
    ScriptedDialog *dialog = nullptr;
    std::unique_ptr<Form1> form;

    TestWindow()
    {
        auto fakeEngine = std::make_unique<FakeEngine>();
        auto scripted = std::make_unique<ScriptedDialog>();
        engine = fakeEngine.get();
        dialog = scripted.get();
        form = std::make_unique<Form1>(std::move(fakeEngine), std::move(scripted));
        form->setProgramFolder(folder.path());
    }

    QString path(const QString &name) const { return folder.filePath(name); }
    void writeFile(const QString &name, const QByteArray &bytes) const;
    QByteArray readFile(const QString &name) const;
    void writeAutomaticList(const QByteArray &bytes) const { writeFile(QStringLiteral("mp3.m3u"), bytes); }
    QStringList entries() const;
    int selectedRow() const;
    // Fills the list with entries for the given paths, without starting anything.
    void setEntries(const QStringList &paths);
    // Enabled state of the pop-up menu items runPlay, runDel, munPause, as "ppd" flags.
    QString menuStates() const;
    // 列表另存为 to `path`; false when a problem was reported.
    bool saveAs(const QString &path);
};

// Entry texts as a plain list, and back.
QStringList texts(const EntryTexts &entries);
EntryTexts entryTexts(const QStringList &texts);

// Drops the files on the list as a file manager does; returns whether the drag was taken.
bool dropFiles(Form1 &form, const QStringList &paths);

// "#EXTM3U" and a title and path line per track, CR LF line ends.
QByteArray m3u(const QList<QPair<QString, QString>> &titledPaths);

} // namespace velmora::test
