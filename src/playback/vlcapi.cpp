#include "playback/vlcapi.h"

#include "core/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <thread>

// Types and prototypes only: nothing is linked, every entry point comes from dlsym().
#include <vlc/vlc.h>

#ifndef QUOXEL_VLC_PLUGIN_DIR
#define QUOXEL_VLC_PLUGIN_DIR ""
#endif

// The entry points bound by name, in this order.
#define QUOXEL_VLC_ENTRY_POINTS(X)                                                                                     \
    X(libvlc_new)                                                                                                      \
    X(libvlc_release)                                                                                                  \
    X(libvlc_retain)                                                                                                   \
    X(libvlc_get_version)                                                                                              \
    X(libvlc_errmsg)                                                                                                   \
    X(libvlc_log_set)                                                                                                  \
    X(libvlc_log_unset)                                                                                                \
    X(libvlc_log_get_context)                                                                                          \
    X(libvlc_media_new_location)                                                                                       \
    X(libvlc_media_add_option)                                                                                         \
    X(libvlc_media_release)                                                                                            \
    X(libvlc_media_get_stats)                                                                                          \
    X(libvlc_media_player_new)                                                                                         \
    X(libvlc_media_player_release)                                                                                     \
    X(libvlc_media_player_retain)                                                                                      \
    X(libvlc_media_player_set_media)                                                                                   \
    X(libvlc_media_player_play)                                                                                        \
    X(libvlc_media_player_set_pause)                                                                                   \
    X(libvlc_media_player_stop)                                                                                        \
    X(libvlc_media_player_is_playing)                                                                                  \
    X(libvlc_media_player_get_state)                                                                                   \
    X(libvlc_media_player_set_xwindow)                                                                                 \
    X(libvlc_media_player_event_manager)                                                                               \
    X(libvlc_event_attach)                                                                                             \
    X(libvlc_event_detach)                                                                                             \
    X(libvlc_audio_get_volume)                                                                                         \
    X(libvlc_audio_set_volume)                                                                                         \
    X(libvlc_audio_get_mute)                                                                                           \
    X(libvlc_audio_set_mute)                                                                                           \
    X(libvlc_audio_get_track)                                                                                          \
    X(libvlc_audio_get_track_description)                                                                              \
    X(libvlc_track_description_list_release)                                                                           \
    X(libvlc_video_set_deinterlace)                                                                                    \
    X(libvlc_video_set_mouse_input)                                                                                    \
    X(libvlc_video_set_key_input)                                                                                      \
    X(libvlc_video_get_size)                                                                                           \
    X(libvlc_video_get_track)                                                                                          \
    X(libvlc_video_set_track)                                                                                          \
    X(libvlc_video_take_snapshot)

struct VlcLibrary::Table {
#define QUOXEL_VLC_SLOT(name) decltype(&::name) name = nullptr;
    QUOXEL_VLC_ENTRY_POINTS(QUOXEL_VLC_SLOT)
#undef QUOXEL_VLC_SLOT
};

namespace {

using Table = VlcLibrary::Table;

QByteArray utf8(const QString& s) {
    return s.toUtf8();
}

} // namespace

// ---- binding ----

VlcLibrary::VlcLibrary(QString fileName)
    : m_fileName(std::move(fileName))
    , m_table(std::make_unique<Table>()) {}

VlcLibrary::~VlcLibrary() = default;

QString VlcLibrary::defaultFileName() {
    return QStringLiteral("libvlc.so.5");
}

QStringList VlcLibrary::entryPointNames() {
    QStringList names;
#define QUOXEL_VLC_NAME(name) names << QStringLiteral(#name);
    QUOXEL_VLC_ENTRY_POINTS(QUOXEL_VLC_NAME)
#undef QUOXEL_VLC_NAME
    return names;
}

int VlcLibrary::VLD_Startup() {
    m_lastError = 0;
    if (!m_handle) {
        m_handle = dlopen(utf8(m_fileName).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle) {
            const char* err = dlerror();
            m_loadError = m_fileName + QStringLiteral(": ") + QString::fromLocal8Bit(err ? err : "not found");
            // The library folder sits two levels above the plugin folder.
            const QString dir = VlcInstallDir();
            if (!dir.isEmpty() && !m_fileName.contains(QLatin1Char('/'))) {
                const QString path = QDir::cleanPath(dir + QStringLiteral("../..")) + QLatin1Char('/') + m_fileName;
                m_handle = dlopen(utf8(path).constData(), RTLD_NOW | RTLD_LOCAL);
                if (!m_handle) {
                    const char* err2 = dlerror();
                    m_loadError += QStringLiteral("; ") + path + QStringLiteral(": ") +
                                   QString::fromLocal8Bit(err2 ? err2 : "not found");
                }
            }
        }
        if (!m_handle) {
            m_lastError = kNotLoaded;
            Log(LogMsg, QStringLiteral("VLD_Startup: cannot load ") + m_loadError);
            return m_lastError;
        }
        m_loadError.clear();
    }
    m_missing.clear();
    *m_table = Table();
#define QUOXEL_VLC_BIND(name)                                                                                          \
    m_table->name = reinterpret_cast<decltype(&::name)>(dlsym(m_handle, #name));                                       \
    if (!m_table->name)                                                                                                \
        m_missing << QStringLiteral(#name);
    QUOXEL_VLC_ENTRY_POINTS(QUOXEL_VLC_BIND)
#undef QUOXEL_VLC_BIND
    if (!m_missing.isEmpty()) {
        m_lastError = kNameMissing;
        for (const QString& name : std::as_const(m_missing))
            Log(LogMsg,
                QStringLiteral("VLD_Startup: entry point not found in ") + m_fileName + QStringLiteral(": ") + name);
    }
    return m_lastError;
}

int VlcLibrary::lastError() {
    const int e = m_lastError;
    m_lastError = 0;
    return e;
}

bool VlcLibrary::complete() const {
    return m_handle && m_missing.isEmpty() && m_table->libvlc_new;
}

VlcLibrary& vlcLibrary() {
    static VlcLibrary* library = new VlcLibrary(); // never destroyed: libvlc stays loaded
    return *library;
}

int VLD_Startup() {
    return vlcLibrary().VLD_Startup();
}

QString VlcInstallDir() {
    static const QString dir = [] {
        QString d = QString::fromUtf8(QUOXEL_VLC_PLUGIN_DIR);
        if (d.isEmpty() || !QFileInfo(d).isDir())
            return QString();
        if (!d.endsWith(QLatin1Char('/')))
            d += QLatin1Char('/');
        return d;
    }();
    return dir;
}

// ---- engine ----

namespace {

struct InstanceDeleter {
    const Table* t = nullptr;
    void operator()(libvlc_instance_t* p) const {
        if (p)
            t->libvlc_release(p);
    }
};
struct MediaDeleter {
    const Table* t = nullptr;
    void operator()(libvlc_media_t* p) const {
        if (p)
            t->libvlc_media_release(p);
    }
};
struct PlayerDeleter {
    const Table* t = nullptr;
    void operator()(libvlc_media_player_t* p) const {
        if (p)
            t->libvlc_media_player_release(p);
    }
};

const libvlc_event_e kEvents[] = {
    libvlc_MediaPlayerOpening,          libvlc_MediaPlayerBuffering, libvlc_MediaPlayerPlaying,
    libvlc_MediaPlayerPaused,           libvlc_MediaPlayerStopped,   libvlc_MediaPlayerEndReached,
    libvlc_MediaPlayerEncounteredError, libvlc_MediaPlayerVout,
};

} // namespace

struct VlcEngine::LogSink {
    std::mutex mutex;
    QStringList lines;
    const Table* table = nullptr;
};

struct VlcEngine::Handles {
    std::unique_ptr<libvlc_instance_t, InstanceDeleter> instance;
    std::unique_ptr<libvlc_media_player_t, PlayerDeleter> player;
    std::unique_ptr<libvlc_media_t, MediaDeleter> media;
    // The context the event callbacks get; replaced with each player.
    struct EventContext {
        VlcEngine* engine = nullptr;
        int generation = 0;
    };
    std::unique_ptr<EventContext> events;
    bool attached = false;
};

// A stop in flight on its own thread. If it outlives the bound the thread keeps the player and
// releases it (and its reference to the instance) whenever libvlc lets go.
struct VlcEngine::StopJob {
    std::thread thread;
    std::mutex mutex;
    bool done = false;
    bool abandoned = false;
    libvlc_media_player_t* player = nullptr;
    libvlc_instance_t* instance = nullptr; // retained while abandoned
    libvlc_media_t* media = nullptr;       // owned while abandoned
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    decltype(&::libvlc_media_player_stop) stop = nullptr;
    decltype(&::libvlc_media_player_release) releasePlayer = nullptr;
    decltype(&::libvlc_media_release) releaseMedia = nullptr;
    decltype(&::libvlc_release) releaseInstance = nullptr;
};

// A picture of the paused video being written on its own thread: libvlc waits there for the
// output's next redraw and encodes the file.
struct VlcEngine::StillJob {
    std::thread thread;
    QString file;
    int generation = 0;
    const void* media = nullptr;
    int pauseSerial = 0;
};

namespace {

// libvlc's threads call these; they copy and post, nothing more.
void onLibvlcEvent(const libvlc_event_t* event, void* opaque) {
    const auto* ctx = static_cast<const VlcEngine::Handles::EventContext*>(opaque);
    const int type = event->type;
    const int count = type == libvlc_MediaPlayerVout ? event->u.media_player_vout.new_count : 0;
    VlcEngine* engine = ctx->engine;
    const int generation = ctx->generation;
    QMetaObject::invokeMethod(
        engine, [engine, generation, type, count] { engine->onEngineEvent(generation, type, count); },
        Qt::QueuedConnection);
}

void onLibvlcLog(void* data, int level, const libvlc_log_t* ctx, const char* fmt, va_list args) {
    auto* sink = static_cast<VlcEngine::LogSink*>(data);
    char buf[1024];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(buf, sizeof buf, fmt, copy);
    va_end(copy);
    const char* module = nullptr;
    const char* file = nullptr;
    unsigned line = 0;
    if (sink->table->libvlc_log_get_context)
        sink->table->libvlc_log_get_context(ctx, &module, &file, &line);
    const QString text = QString::number(level) + QLatin1Char(' ') + QString::fromUtf8(module ? module : "?") +
                         QStringLiteral(": ") + QString::fromUtf8(buf);
    std::lock_guard lock(sink->mutex);
    if (sink->lines.size() >= VlcEngine::kMaxLogLines)
        sink->lines.removeFirst();
    sink->lines << text;
}

} // namespace

VlcEngine::VlcEngine(VlcLibrary& library, QObject* parent)
    : QObject(parent)
    , m_library(library)
    , m_h(std::make_unique<Handles>())
    , m_timeshiftDir(QDir::tempPath()) {}

VlcEngine::~VlcEngine() {
    VLC_Die();
}

int VlcEngine::create(const QString& installDir, const QStringList& arguments) {
    if (m_h->instance)
        return VLC_SUCCESS;
    if (!m_library.complete())
        return VLC_EGENERIC;
    const Table* t = m_library.table();
    // No Xlib calls from the engine: Qt owns the X connection of this process.
    // The engine writes no text of its own over the picture: the program draws its overlays itself.
    // Its read-ahead ring for network streams is 16 MiB by default (at least one read, also 16 MiB),
    // every page of it touched once that much of a stream has gone through. The caching is held
    // further on, so a live stream needs no more than a few seconds of it.
    QList<QByteArray> args{"--no-xlib", "--no-video-title-show",       "--no-snapshot-preview",
                           "--no-osd",  "--prefetch-buffer-size=2048", "--prefetch-read-size=131072"};
    for (const QString& a : arguments)
        args << a.toUtf8();
    std::vector<const char*> argv;
    for (const QByteArray& a : std::as_const(args))
        argv.push_back(a.constData());
    libvlc_instance_t* inst = t->libvlc_new(int(argv.size()), argv.data());
    if (!inst) {
        const char* err = t->libvlc_errmsg();
        Log(LogMsg, QStringLiteral("VLC_Init(") + installDir + QStringLiteral("): the engine refused to start: ") +
                        QString::fromUtf8(err ? err : "no reason given"));
        return VLC_EGENERIC;
    }
    m_h->instance = std::unique_ptr<libvlc_instance_t, InstanceDeleter>(inst, InstanceDeleter{t});
    m_instance = inst;
    m_log = std::make_shared<LogSink>();
    m_log->table = t;
    t->libvlc_log_set(inst, onLibvlcLog, m_log.get());
    return ensurePlayer() ? VLC_SUCCESS : VLC_EGENERIC;
}

bool VlcEngine::ensurePlayer() {
    if (m_h->player)
        return true;
    if (!m_h->instance)
        return false;
    const Table* t = m_library.table();
    libvlc_media_player_t* mp = t->libvlc_media_player_new(m_h->instance.get());
    if (!mp)
        return false;
    m_h->player = std::unique_ptr<libvlc_media_player_t, PlayerDeleter>(mp, PlayerDeleter{t});
    ++m_generation;
    m_vouts = 0;
    attachEvents();
    applyPlayerSettings();
    return true;
}

void VlcEngine::attachEvents() {
    const Table* t = m_library.table();
    m_h->events = std::make_unique<Handles::EventContext>(Handles::EventContext{this, m_generation});
    libvlc_event_manager_t* em = t->libvlc_media_player_event_manager(m_h->player.get());
    for (libvlc_event_e e : kEvents)
        t->libvlc_event_attach(em, e, onLibvlcEvent, m_h->events.get());
    m_h->attached = true;
}

void VlcEngine::detachEvents() {
    if (!m_h->attached || !m_h->player)
        return;
    const Table* t = m_library.table();
    libvlc_event_manager_t* em = t->libvlc_media_player_event_manager(m_h->player.get());
    // libvlc runs callbacks under the manager's lock, so none runs once these return.
    for (libvlc_event_e e : kEvents)
        t->libvlc_event_detach(em, e, onLibvlcEvent, m_h->events.get());
    m_h->attached = false;
    m_h->events.reset();
}

void VlcEngine::applyPlayerSettings() {
    const Table* t = m_library.table();
    libvlc_media_player_t* mp = m_h->player.get();
    // Mouse and keys belong to our window, not to the engine's video window.
    t->libvlc_video_set_mouse_input(mp, 0);
    t->libvlc_video_set_key_input(mp, 0);
    if (m_drawable)
        t->libvlc_media_player_set_xwindow(mp, uint32_t(m_drawable));
    applyAudio();
}

void VlcEngine::applyAudio() {
    if (!m_h->player || m_stopJob)
        return;
    const Table* t = m_library.table();
    t->libvlc_audio_set_volume(m_h->player.get(), m_volume);
    t->libvlc_audio_set_mute(m_h->player.get(), m_muted ? 1 : 0);
}

int VlcEngine::VLC_VariableSet(const QString& name, qint64 value) {
    if (!m_h->instance)
        return VLC_ENOOBJ;
    if (name == QLatin1String("drawable")) {
        m_drawable = quintptr(value);
        if (m_h->player && !m_stopJob)
            m_library.table()->libvlc_media_player_set_xwindow(m_h->player.get(), uint32_t(m_drawable));
        return VLC_SUCCESS;
    }
    // libvlc 3's video output follows the window it draws into; the size is kept for reading back.
    if (name == QLatin1String("conf::width")) {
        m_panelSize.setWidth(int(value));
        return VLC_SUCCESS;
    }
    if (name == QLatin1String("conf::height")) {
        m_panelSize.setHeight(int(value));
        return VLC_SUCCESS;
    }
    if (name == QLatin1String("conf::audio-track")) {
        m_audioTrack = value;
        return VLC_SUCCESS;
    }
    // No visualisation is libvlc 3's default already.
    if (name == QLatin1String("conf::audio-visual"))
        return VLC_SUCCESS;
    return VLC_EBADVAR;
}

int VlcEngine::VLC_VariableSet(const QString& name, const QString& text) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok)
        return m_h->instance ? VLC_EBADVAR : VLC_ENOOBJ;
    return VLC_VariableSet(name, v);
}

int VlcEngine::VLC_VariableGet(const QString& name, qint64* value) const {
    if (!m_h->instance)
        return VLC_ENOOBJ;
    if (name == QLatin1String("conf::audio-track"))
        *value = m_audioTrack;
    else if (name == QLatin1String("drawable"))
        *value = qint64(m_drawable);
    else if (name == QLatin1String("conf::width"))
        *value = m_panelSize.width();
    else if (name == QLatin1String("conf::height"))
        *value = m_panelSize.height();
    else
        return VLC_EBADVAR;
    return VLC_SUCCESS;
}

int VlcEngine::VLC_AddTarget(const QString& mrl, const QStringList& options, int mode, int position) {
    Q_UNUSED(mode);
    Q_UNUSED(position);
    if (!m_h->instance)
        return VLC_ENOOBJ;
    m_mrl = mrl;
    m_options = options;
    m_targetDirty = true;
    for (const QString& d : mapTargetOptions(options, m_timeshiftDir).dropped)
        Log(LogMsg, QStringLiteral("VLC_AddTarget: no libvlc 3 counterpart, left out: ") + d);
    return VLC_SUCCESS;
}

bool VlcEngine::isActive() const {
    const VlcState s = state();
    return s == VlcState::Opening || s == VlcState::Buffering || s == VlcState::Playing || s == VlcState::Paused;
}

int VlcEngine::VLC_Play() {
    if (!m_h->instance)
        return VLC_ENOOBJ;
    if (m_mrl.isEmpty())
        return VLC_EGENERIC;
    if (m_stopJob && !finishStop(200))
        abandonStop();
    if (!ensurePlayer())
        return VLC_EGENERIC;
    const Table* t = m_library.table();
    if (isActive()) {
        // Same item: resume or keep playing, as the old call did.
        if (!m_targetDirty && m_audioTrack == m_appliedTrack) {
            m_pauseWanted = false;
            restoreVideo();
            return t->libvlc_media_player_play(m_h->player.get()) == 0 ? VLC_SUCCESS : VLC_EGENERIC;
        }
        VLC_Stop();
        if (!finishStop(kStopBoundMs))
            abandonStop();
        if (!ensurePlayer())
            return VLC_EGENERIC;
    }
    // A fresh media each time: new counters, and the audio track goes on as an item option.
    const VlcTargetOptions mapped = mapTargetOptions(m_options, m_timeshiftDir);
    libvlc_media_t* md = t->libvlc_media_new_location(m_h->instance.get(), utf8(m_mrl).constData());
    if (!md)
        return VLC_EGENERIC;
    QStringList applied = mapped.mediaOptions;
    if (m_audioTrack >= 0)
        applied << QStringLiteral(":audio-track=") + QString::number(m_audioTrack);
    for (const QString& opt : std::as_const(applied))
        t->libvlc_media_add_option(md, utf8(opt).constData());
    libvlc_media_player_t* mp = m_h->player.get();
    t->libvlc_media_player_set_media(mp, md);
    m_h->media = std::unique_ptr<libvlc_media_t, MediaDeleter>(md, MediaDeleter{t});
    // Item options do not reach the video output in libvlc 3; the player's own call does.
    if (!mapped.deinterlaceMode.isEmpty())
        t->libvlc_video_set_deinterlace(mp, utf8(mapped.deinterlaceMode).constData());
    else if (!m_appliedDeinterlace.isEmpty())
        t->libvlc_video_set_deinterlace(mp, "");
    m_appliedOptions = applied;
    m_appliedDeinterlace = mapped.deinterlaceMode;
    m_appliedTrack = m_audioTrack;
    m_targetDirty = false;
    m_vouts = 0;
    m_releasedVideoTrack = -1;
    m_outputRestoring = false;
    m_pauseWanted = false;
    return t->libvlc_media_player_play(mp) == 0 ? VLC_SUCCESS : VLC_EGENERIC;
}

void VlcEngine::requestStillPicture() {
    if (!pausedHere() || m_vouts <= 0 || m_releasedVideoTrack >= 0 || serving())
        return;
    if (m_stillJob) {
        if (m_stillJob->thread.joinable() && !m_stillDone.load())
            return; // one on its way already
        finishStill();
    }
    if (!m_stillDir) {
        m_stillDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quoxel-still-XXXXXX"));
        if (!m_stillDir->isValid()) {
            m_stillDir.reset();
            return;
        }
    }
    const Table* t = m_library.table();
    auto job = std::make_unique<StillJob>();
    job->file = m_stillDir->filePath(QStringLiteral("paused.png"));
    QFile::remove(job->file);
    job->generation = m_generation;
    job->media = m_h->media.get();
    job->pauseSerial = m_pauseSerial;
    libvlc_media_player_t* mp = m_h->player.get();
    t->libvlc_media_player_retain(mp);
    m_stillDone = false;
    VlcEngine* engine = this;
    const QByteArray path = QFile::encodeName(job->file);
    job->thread = std::thread([t, mp, path, engine] {
        // Width and height 0: the picture's own size, its pixels made square.
        const bool taken = t->libvlc_video_take_snapshot(mp, 0, path.constData(), 0, 0) == 0;
        t->libvlc_media_player_release(mp);
        engine->m_stillDone = true;
        QMetaObject::invokeMethod(
            engine, [engine, taken] { engine->onStillTaken(taken); }, Qt::QueuedConnection);
    });
    m_stillJob = std::move(job);
}

bool VlcEngine::pausedHere() const {
    // libvlc's state follows a command only later: a resume just asked for must already count.
    return m_h->player && !m_stopJob && m_pauseWanted && state() == VlcState::Paused;
}

bool VlcEngine::serving() const {
    // A stream re-served to another instance would lose its video and get it back as a new
    // stream on resume.
    for (const QString& opt : m_appliedOptions)
        if (opt.startsWith(QLatin1String(":sout")))
            return true;
    return false;
}

void VlcEngine::finishStill() {
    if (!m_stillJob)
        return;
    if (m_stillJob->thread.joinable())
        m_stillJob->thread.join();
    QFile::remove(m_stillJob->file);
    m_stillJob.reset();
}

void VlcEngine::onStillTaken(bool taken) {
    if (!m_stillJob || !m_stillDone.load())
        return;
    m_stillJob->thread.join();
    const QString file = m_stillJob->file;
    // Only a picture of what is still paused on screen is any use: one asked for before a resume
    // and a new pause may show an earlier frame, so the new pause gets its own.
    const bool samePause = m_stillJob->pauseSerial == m_pauseSerial;
    const bool current = taken && samePause && m_stillJob->generation == m_generation && pausedHere() &&
                         m_stillJob->media == m_h->media.get() && m_vouts > 0 && QFileInfo(file).size() > 0;
    if (current)
        Q_EMIT stillPictureReady(file);
    finishStill();
    if (!samePause)
        requestStillPicture();
}

bool VlcEngine::releaseVideo() {
    if (!pausedHere() || m_releasedVideoTrack >= 0 || serving())
        return false;
    const Table* t = m_library.table();
    libvlc_media_player_t* mp = m_h->player.get();
    const int track = t->libvlc_video_get_track(mp);
    if (track < 0 || t->libvlc_video_set_track(mp, -1) != 0)
        return false;
    m_releasedVideoTrack = track;
    return true;
}

void VlcEngine::restoreVideo() {
    if (m_releasedVideoTrack < 0 || !m_h->player)
        return;
    m_library.table()->libvlc_video_set_track(m_h->player.get(), m_releasedVideoTrack);
    m_releasedVideoTrack = -1;
    m_outputRestoring = true;
}

int VlcEngine::VLC_Pause() {
    if (!m_h->instance)
        return VLC_ENOOBJ;
    if (m_h->player && !m_stopJob) {
        m_library.table()->libvlc_media_player_set_pause(m_h->player.get(), 1);
        if (!m_pauseWanted)
            ++m_pauseSerial;
        m_pauseWanted = true;
    }
    return VLC_SUCCESS;
}

int VlcEngine::VLC_Stop() {
    if (!m_h->instance)
        return VLC_ENOOBJ;
    if (!m_h->player || m_stopJob)
        return VLC_SUCCESS;
    m_releasedVideoTrack = -1;
    m_outputRestoring = false;
    m_pauseWanted = false;
    const Table* t = m_library.table();
    auto job = std::make_shared<StopJob>();
    job->player = m_h->player.get();
    job->stop = t->libvlc_media_player_stop;
    job->releasePlayer = t->libvlc_media_player_release;
    job->releaseMedia = t->libvlc_media_release;
    job->releaseInstance = t->libvlc_release;
    VlcEngine* engine = this;
    job->thread = std::thread([job, engine] {
        job->stop(job->player);
        std::unique_lock lock(job->mutex);
        job->done = true;
        if (!job->abandoned) {
            QMetaObject::invokeMethod(
                engine, [engine] { Q_EMIT engine->stopFinished(); }, Qt::QueuedConnection);
            return;
        }
        lock.unlock();
        if (job->media)
            job->releaseMedia(job->media);
        job->releasePlayer(job->player);
        job->releaseInstance(job->instance);
    });
    m_stopJob = std::move(job);
    return VLC_SUCCESS;
}

bool VlcEngine::finishStop(int waitMs) {
    if (!m_stopJob)
        return true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        {
            std::lock_guard lock(m_stopJob->mutex);
            if (m_stopJob->done)
                break;
        }
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_stopJob->thread.join();
    m_stopJob.reset();
    return true;
}

void VlcEngine::abandonStop() {
    if (!m_stopJob)
        return;
    {
        std::lock_guard lock(m_stopJob->mutex);
        if (!m_stopJob->done) {
            detachEvents();
            m_stopJob->abandoned = true;
            m_stopJob->instance = m_h->instance.get();
            m_library.table()->libvlc_retain(m_stopJob->instance);
            m_stopJob->media = m_h->media.release();
            m_h->player.release(); // the stop thread releases it when libvlc lets go
            m_stopJob->thread.detach();
            m_stopJob.reset();
            Log(LogMsg, QStringLiteral("VLC_Stop: the engine did not stop within ") + QString::number(kStopBoundMs) +
                            QStringLiteral(" ms; a new player takes over"));
            return;
        }
    }
    finishStop(0);
}

int VlcEngine::VLC_IsPlaying() {
    if (m_stopJob && !finishStop(0)) {
        if (std::chrono::steady_clock::now() - m_stopJob->started < std::chrono::milliseconds(kStopBoundMs))
            return 1;
        abandonStop();
    }
    if (!m_h->player)
        return 0;
    return m_library.table()->libvlc_media_player_is_playing(m_h->player.get());
}

int VlcEngine::VLC_VolumeGet() const {
    return m_volume;
}

void VlcEngine::VLC_VolumeSet(int volume) {
    m_volume = std::clamp(volume, 0, 100);
    if (m_h->player && !m_stopJob)
        m_library.table()->libvlc_audio_set_volume(m_h->player.get(), m_volume);
}

int VlcEngine::VLC_VolumeMute() {
    if (!m_h->instance)
        return VLC_ENOOBJ;
    m_muted = !m_muted;
    if (m_h->player && !m_stopJob)
        m_library.table()->libvlc_audio_set_mute(m_h->player.get(), m_muted ? 1 : 0);
    return VLC_SUCCESS;
}

QString VlcEngine::VLC_Version() const {
    if (!m_library.complete())
        return QString();
    const char* v = m_library.table()->libvlc_get_version();
    return QString::fromUtf8(v ? v : "");
}

int VlcEngine::VLC_PlaylistClear() {
    if (!m_h->instance)
        return VLC_ENOOBJ;
    m_mrl.clear();
    m_options.clear();
    m_targetDirty = true;
    // An item still running is dropped by the next play, which stops it first.
    if (m_h->player && !m_stopJob && !isActive()) {
        m_library.table()->libvlc_media_player_set_media(m_h->player.get(), nullptr);
        m_h->media.reset();
    }
    return VLC_SUCCESS;
}

int VlcEngine::VLC_Die() {
    if (!m_h->instance)
        return VLC_ENOOBJ;
    finishStill();
    if (m_stopJob && !finishStop(kStopBoundMs))
        abandonStop();
    if (m_h->player && isActive()) {
        VLC_Stop();
        if (!finishStop(kStopBoundMs))
            abandonStop();
    }
    detachEvents();
    m_h->media.reset();
    m_h->player.reset();
    m_library.table()->libvlc_log_unset(m_h->instance.get());
    m_h->instance.reset();
    m_instance = nullptr;
    m_log.reset();
    return VLC_SUCCESS;
}

VlcState VlcEngine::state() const {
    if (m_stopJob)
        return VlcState::Playing;
    if (!m_h->player)
        return VlcState::Idle;
    switch (m_library.table()->libvlc_media_player_get_state(m_h->player.get())) {
    case libvlc_Opening:
        return VlcState::Opening;
    case libvlc_Buffering:
        return VlcState::Buffering;
    case libvlc_Playing:
        return VlcState::Playing;
    case libvlc_Paused:
        return VlcState::Paused;
    case libvlc_Stopped:
        return VlcState::Stopped;
    case libvlc_Ended:
        return VlcState::Ended;
    case libvlc_Error:
        return VlcState::Error;
    default:
        return VlcState::Idle;
    }
}

bool VlcEngine::opening() const {
    const VlcState s = state();
    return !m_stopJob && (s == VlcState::Opening || s == VlcState::Buffering);
}

VlcStats VlcEngine::stats() const {
    VlcStats out;
    if (!m_h->media || m_stopJob)
        return out;
    libvlc_media_stats_t s{};
    if (!m_library.table()->libvlc_media_get_stats(m_h->media.get(), &s))
        return out;
    out.decodedVideo = s.i_decoded_video;
    out.displayedPictures = s.i_displayed_pictures;
    out.lostPictures = s.i_lost_pictures;
    out.decodedAudio = s.i_decoded_audio;
    out.playedAudioBuffers = s.i_played_abuffers;
    out.readBytes = s.i_read_bytes;
    out.demuxReadBytes = s.i_demux_read_bytes;
    return out;
}

QSize VlcEngine::videoSize() const {
    if (!m_h->player || m_stopJob)
        return QSize();
    unsigned w = 0, h = 0;
    if (m_library.table()->libvlc_video_get_size(m_h->player.get(), 0, &w, &h) != 0)
        return QSize();
    return QSize(int(w), int(h));
}

std::vector<int> VlcEngine::audioTrackIds() const {
    std::vector<int> ids;
    if (!m_h->player || m_stopJob)
        return ids;
    const Table* t = m_library.table();
    libvlc_track_description_t* list = t->libvlc_audio_get_track_description(m_h->player.get());
    for (libvlc_track_description_t* d = list; d; d = d->p_next) {
        if (d->i_id >= 0)
            ids.push_back(d->i_id);
    }
    if (list)
        t->libvlc_track_description_list_release(list);
    return ids;
}

int VlcEngine::currentAudioTrackId() const {
    if (!m_h->player || m_stopJob)
        return -1;
    return m_library.table()->libvlc_audio_get_track(m_h->player.get());
}

int VlcEngine::engineVolume() const {
    if (!m_h->player || m_stopJob)
        return -1;
    return m_library.table()->libvlc_audio_get_volume(m_h->player.get());
}

int VlcEngine::engineMuted() const {
    if (!m_h->player || m_stopJob)
        return -1;
    return m_library.table()->libvlc_audio_get_mute(m_h->player.get());
}

QStringList VlcEngine::engineLog() const {
    if (!m_log)
        return {};
    std::lock_guard lock(m_log->mutex);
    return m_log->lines;
}

void VlcEngine::clearEngineLog() {
    if (!m_log)
        return;
    std::lock_guard lock(m_log->mutex);
    m_log->lines.clear();
}

void VlcEngine::onEngineEvent(int generation, int type, int count) {
    if (generation != m_generation)
        return;
    switch (type) {
    case libvlc_MediaPlayerPlaying:
        // The audio output may only now exist: hand it the volume and muting we keep.
        applyAudio();
        Q_EMIT playing();
        break;
    case libvlc_MediaPlayerPaused:
        Q_EMIT paused();
        break;
    case libvlc_MediaPlayerStopped:
        Q_EMIT stopped();
        break;
    case libvlc_MediaPlayerEndReached:
        Q_EMIT endReached();
        break;
    case libvlc_MediaPlayerEncounteredError:
        Q_EMIT encounteredError();
        break;
    case libvlc_MediaPlayerVout:
        m_vouts = count;
        Q_EMIT videoOutputChanged(count);
        if (count > 0 && m_outputRestoring) {
            m_outputRestoring = false;
            Q_EMIT videoOutputRestored();
        }
        break;
    default:
        break;
    }
}
