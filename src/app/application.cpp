#include "application.h"

#include "app_info.h"
#include "dialogs.h"
#include "engine/engine_error.h"

#include <QLibraryInfo>
#include <QTranslator>

#ifdef __GLIBC__
#include <malloc.h>
#endif

// The start page and pictures are compiled into a static library: register them by hand.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace ostrel {

Application::Application(int& argc, char** argv) : QApplication(argc, argv)
{
#ifdef __GLIBC__
    // A long list's arrays (IDs, sort keys) are mapped apart and unmapped when freed. Left
    // to itself the allocator raises this bound after each such free, and the next arrays
    // land in the heap, whose freed middle stays resident.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    initResources();
    setApplicationName(QString::fromUtf8(kAppTitle));
    // No display name: the window system would append it to every caption.
    // The toolkit's own texts (OK, Yes, No, the file dialog) in Chinese like the rest.
    auto* translator = new QTranslator(this);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    bool handled = false;
    bool finished = false;
    runGuarded([&] {
        handled = QApplication::notify(receiver, event);
        finished = true;
    });
    if (!finished)
        ++m_lastLineCatches;
    return handled;
}

void runGuarded(const std::function<void()>& step)
{
    try {
        step();
    } catch (const EngineError& e) {
        showErrorBox(e.message());
    } catch (const std::exception& e) {
        showErrorBox(QString::fromUtf8(e.what()));
    }
}

namespace {
QString programDirOverride;
}

QString programDir()
{
    if (!programDirOverride.isEmpty())
        return programDirOverride;
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

void setProgramDir(const QString& dir)
{
    programDirOverride = dir;
}

} // namespace ostrel
