// Entry scans on arbitrary text: fixed texts, and rows of a real list that the yield
// points change, shorten, clear or destroy while a scan is under way.
#include "fuzzcheck.h"

#include "entry.h"
#include "m3u.h"
#include "playlistmodel.h"

#include <QCoreApplication>
#include <QPointer>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace {

// More rows only repeat the same work.
constexpr qsizetype kMaxRows = 200;
constexpr std::size_t kMaxSteps = 48;

std::optional<QString> expectedPath(const QString &text)
{
    const qsizetype bracket = text.lastIndexOf(u'(');
    if (bracket < 0)
        return std::nullopt;
    return text.mid(bracket + 1, std::max<qsizetype>(text.size() - bracket - 2, 0));
}

QString expectedBaseName(const QString &text)
{
    const qsizetype separator = std::max(text.lastIndexOf(u'/'), text.lastIndexOf(u'\\'));
    if (separator < 0)
        return QString();
    const qsizetype length = text.size() - separator - 1 - 4;
    return length > 0 ? text.mid(separator + 1, length) : QString();
}

// Name, "(", path and the dropped last character give back the text; when the bracket
// is itself the last character there is nothing after it.
bool reconstructs(const velmora::EntryParts &parts, const QString &text)
{
    if (parts.path.isEmpty() && text == parts.name + u'(')
        return true;
    return text.size() == parts.name.size() + parts.path.size() + 2
        && text.startsWith(parts.name + u'(' + parts.path);
}

void checkFixed(const QString &text)
{
    const auto read = velmora::fixedText(text);
    const auto path = velmora::EntryPath(read);
    FUZZ_REQUIRE(path == expectedPath(text));
    const auto parts = velmora::SplitEntry(read);
    FUZZ_REQUIRE(parts.has_value() == path.has_value());
    if (parts) {
        FUZZ_REQUIRE(parts->path == *path);
        FUZZ_REQUIRE(reconstructs(*parts, text));
    }
    FUZZ_REQUIRE(velmora::TrackBaseName(read) == expectedBaseName(text));
}

// While the list changes under a scan, the hit may lie in any text a row ever held, and
// not necessarily at its last bracket or separator; these checks hold for every position.
bool pathFromSomeText(const QString &path, const QStringList &texts)
{
    const QString tail = u'(' + path;
    return std::any_of(texts.begin(), texts.end(), [&](const QString &text) {
        return (path.isEmpty() && text.endsWith(u'('))
            || (!text.isEmpty() && QStringView(text).chopped(1).endsWith(tail));
    });
}

bool partsFromSomeText(const velmora::EntryParts &parts, const QStringList &texts)
{
    return std::any_of(texts.begin(), texts.end(),
                       [&](const QString &text) { return reconstructs(parts, text); });
}

bool baseNameFromSomeText(const QString &name, const QStringList &texts)
{
    if (name.isEmpty())
        return true;
    return std::any_of(texts.begin(), texts.end(), [&](const QString &text) {
        if (text.size() < name.size() + 5)
            return false;
        const QStringView stem = QStringView(text).chopped(4);
        return stem.endsWith(QString(u'/' + name)) || stem.endsWith(QString(u'\\' + name));
    });
}

enum class Action : std::uint8_t {
    Nothing,
    YieldOnly,
    ReplaceText,
    RemoveRow,
    InsertRow,
    Clear,
    DestroyNow,
    DestroyLater,
    RunDeferredDeletes,
    Count
};

struct Step
{
    std::uint8_t gap;   // yield points that pass before the action
    Action action;
    std::uint8_t row;   // modulo the row count
    std::uint8_t value; // index into the texts
};

velmora::EntryTexts oneText(const QString &text)
{
    velmora::EntryTexts texts;
    texts.append(text);
    return texts;
}

// Drives the yield points from the fuzz input and keeps the list it acts on.
class ListMutator
{
public:
    ListMutator(std::vector<Step> steps, QStringList texts)
        : m_steps(std::move(steps)), m_texts(std::move(texts))
    {
        m_owned = std::make_unique<velmora::PlaylistModel>();
        m_list = m_owned.get();
        for (qsizetype i = 0; i < std::min(m_texts.size(), kMaxRows); ++i)
            m_list->append(m_texts[i]);
        if (!m_steps.empty())
            m_countdown = m_steps.front().gap;
    }
    ~ListMutator()
    {
        // A list handed to deleteLater() is gone after this, like everything else.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    velmora::PlaylistModel *list() const { return m_list.data(); }
    int changes() const { return m_changes; }
    // Every text a row can have held: what a reader can return.
    const QStringList &texts() const { return m_texts; }

    bool yield()
    {
        if (m_next >= m_steps.size())
            return false;
        if (m_countdown > 0) {
            --m_countdown;
            return false;
        }
        const Step step = m_steps[m_next++];
        if (m_next < m_steps.size())
            m_countdown = m_steps[m_next].gap;
        if (step.action == Action::Nothing)
            return false;
        if (step.action != Action::YieldOnly)
            ++m_changes;
        perform(step);
        return true;
    }

private:
    void perform(const Step &step)
    {
        velmora::PlaylistModel *list = m_list.data();
        if (!list) {
            if (step.action == Action::RunDeferredDeletes)
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return;
        }
        const int count = list->count();
        const int row = count > 0 ? step.row % count : 0;
        const QString &text = m_texts[step.value % m_texts.size()];
        switch (step.action) {
        case Action::ReplaceText:
            if (count > 0) {
                list->removeAt(row);
                list->insert(row, oneText(text));
            }
            break;
        case Action::RemoveRow:
            list->removeAt(row);
            break;
        case Action::InsertRow:
            list->insert(step.row % (count + 1), oneText(text));
            break;
        case Action::Clear:
            list->clear();
            break;
        case Action::DestroyNow:
            m_owned.reset();
            break;
        case Action::DestroyLater:
            if (m_owned)
                m_owned.release()->deleteLater(); // the event loop owns it from here
            break;
        case Action::RunDeferredDeletes:
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            break;
        default:
            break;
        }
    }

    std::vector<Step> m_steps;
    QStringList m_texts;
    std::unique_ptr<velmora::PlaylistModel> m_owned;
    QPointer<velmora::PlaylistModel> m_list;
    std::size_t m_next = 0;
    unsigned m_countdown = 0;
    int m_changes = 0;
};

void scanRows(ListMutator &mutator)
{
    const int rows = mutator.list() ? mutator.list()->count() : 0;
    for (int row = 0; row < rows + 1; ++row) { // one past the end reads as ""
        const auto read = velmora::listEntryText(mutator.list(), row);
        const QString before = read();

        int changes = mutator.changes();
        const auto path = velmora::EntryPath(read);
        if (mutator.changes() == changes)
            FUZZ_REQUIRE(path == expectedPath(before));
        else if (path)
            FUZZ_REQUIRE(pathFromSomeText(*path, mutator.texts()));

        const QString current = read();
        changes = mutator.changes();
        const auto parts = velmora::SplitEntry(read);
        if (mutator.changes() == changes) {
            FUZZ_REQUIRE(parts.has_value() == expectedPath(current).has_value());
            if (parts)
                FUZZ_REQUIRE(reconstructs(*parts, current));
        } else if (parts) {
            FUZZ_REQUIRE(partsFromSomeText(*parts, mutator.texts()));
        }

        const QString last = read();
        changes = mutator.changes();
        const QString baseName = velmora::TrackBaseName(read);
        if (mutator.changes() == changes)
            FUZZ_REQUIRE(baseName == expectedBaseName(last));
        else
            FUZZ_REQUIRE(baseNameFromSomeText(baseName, mutator.texts()));
    }
}

// A save writes the texts as they were taken, whatever happens to the list meanwhile.
void saveList(ListMutator &mutator)
{
    const velmora::EntryTexts taken = mutator.list() ? mutator.list()->texts() : velmora::EntryTexts();
    const QString written = velmora::playlistTextFromEntries(taken);
    FUZZ_REQUIRE(written.startsWith(QStringLiteral("#EXTM3U\r\n")));
    velmora::setScanYieldHook([] { return false; });
    FUZZ_REQUIRE(written == velmora::playlistTextFromEntries(taken));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // QCoreApplication keeps references to its arguments, and libFuzzer's are not for Qt.
    static int argc = 1;
    static char name[] = "fuzz_entry";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    // The steps come from the end of the input, the texts from the rest.
    const unsigned fixedYieldStride = input.ConsumeIntegral<std::uint8_t>();
    std::vector<Step> steps(input.ConsumeIntegralInRange<std::size_t>(0, kMaxSteps));
    for (Step &step : steps) {
        step.gap = input.ConsumeIntegral<std::uint8_t>();
        step.action = Action(input.ConsumeIntegral<std::uint8_t>() % std::uint8_t(Action::Count));
        step.row = input.ConsumeIntegral<std::uint8_t>();
        step.value = input.ConsumeIntegral<std::uint8_t>();
    }
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QStringList texts = QString::fromUtf8(rest.data(), qsizetype(rest.size())).split(u'\n');

    // A fixed text reads the same however often the scan re-reads it.
    unsigned calls = 0;
    velmora::setScanYieldHook([&] { return fixedYieldStride != 0 && ++calls % fixedYieldStride == 0; });
    for (const QString &text : texts)
        checkFixed(text);

    ListMutator mutator(std::move(steps), texts);
    velmora::setScanYieldHook([&] { return mutator.yield(); });
    scanRows(mutator);
    saveList(mutator);
    velmora::setScanYieldHook({});
    return 0;
}
