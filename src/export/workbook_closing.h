#pragma once
#include <exception>
#include <memory>
#include <thread>

namespace ostrel {

class WorkbookWriter;

// Closes a workbook on a thread of its own: zipping a large one takes most of a report's
// time, and the window stays drawn and its 取消 live meanwhile. The writer is the
// thread's until done() says it is finished.
class WorkbookClosing {
public:
    explicit WorkbookClosing(std::unique_ptr<WorkbookWriter> writer);
    // Gives up the closing when it was not taken: the thread finishes on its own and then
    // removes the partial file.
    ~WorkbookClosing();
    WorkbookClosing(const WorkbookClosing&) = delete;
    WorkbookClosing& operator=(const WorkbookClosing&) = delete;

    bool done() const;
    // Waits for the end, then gives the closed writer back; throws what closing threw.
    std::unique_ptr<WorkbookWriter> take();

    struct State;

private:
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

// Waits for every closing given up on (their partial files are gone afterwards). The
// program does this before it ends.
void waitForAbandonedClosings();

} // namespace ostrel
