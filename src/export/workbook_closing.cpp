#include "workbook_closing.h"

#include "workbook_writer.h"

#include <QCoreApplication>

#include <atomic>
#include <mutex>
#include <vector>

namespace ostrel {

struct WorkbookClosing::State {
    std::unique_ptr<WorkbookWriter> writer;
    std::exception_ptr error;
    std::atomic<bool> done{false};
};

namespace {

// Threads of closings given up on; the last owner of a closing's state (the thread, once
// given up on) removes its partial file.
struct Abandoned {
    std::mutex mutex;
    std::vector<std::thread> threads;
};

Abandoned& abandoned()
{
    static Abandoned list;
    return list;
}

void keepAbandoned(std::thread thread)
{
    static const bool waitAtExit = [] {
        qAddPostRoutine(waitForAbandonedClosings);
        return true;
    }();
    (void)waitAtExit;
    const std::lock_guard lock(abandoned().mutex);
    abandoned().threads.push_back(std::move(thread));
}

} // namespace

WorkbookClosing::WorkbookClosing(std::unique_ptr<WorkbookWriter> writer) : m_state(std::make_shared<State>())
{
    m_state->writer = std::move(writer);
    m_thread = std::thread([state = m_state]() mutable {
        try {
            state->writer->close();
        } catch (...) {
            state->error = std::current_exception();
        }
        state->done = true;
        state.reset(); // the partial file goes with the last owner
    });
}

WorkbookClosing::~WorkbookClosing()
{
    if (!m_thread.joinable())
        return;
    m_state.reset();
    keepAbandoned(std::move(m_thread));
}

bool WorkbookClosing::done() const
{
    return m_state->done;
}

std::unique_ptr<WorkbookWriter> WorkbookClosing::take()
{
    m_thread.join();
    if (m_state->error)
        std::rethrow_exception(m_state->error);
    return std::move(m_state->writer);
}

void waitForAbandonedClosings()
{
    std::vector<std::thread> threads;
    {
        const std::lock_guard lock(abandoned().mutex);
        threads.swap(abandoned().threads);
    }
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace ostrel
