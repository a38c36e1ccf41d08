#pragma once

#include <exception>
#include <stdexcept>
#include <utility>

namespace velmora {

// A step of a command that could not be done.
class StepFailed : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Runs the steps of one command. The toolbar's commands skip a failing step silently
// and go on with the next; every other command lets a failure through.
class Steps
{
public:
    static Steps skippingFailures() { return Steps(true); }
    static Steps direct() { return Steps(false); }

    template<class Step>
    void operator()(Step &&step) const
    {
        if (!m_skipFailures) {
            std::forward<Step>(step)();
            return;
        }
        try {
            std::forward<Step>(step)();
        } catch (const std::exception &) {
            // Abandoned; the next step runs.
        }
    }

private:
    explicit Steps(bool skipFailures) : m_skipFailures(skipFailures) {}
    bool m_skipFailures;
};

} // namespace velmora
