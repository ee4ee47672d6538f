#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class QTemporaryDir;

// The engine's result codes, numbered as the old external interface numbered them; they are only
// ever logged, with VLC_Error() as their text.
enum VlcResult : int {
    VLC_SUCCESS = 0,
    VLC_ENOMEM = -1,
    VLC_ETHREAD = -2,
    VLC_ETIMEOUT = -3,
    VLC_ENOMOD = -10,
    VLC_ENOOBJ = -20,
    VLC_EBADVAR = -30,
    VLC_EGENERIC = -666,
};

// Text for a result code; the detail of the log's VLC category.
QString VLC_Error(int code);

// Binding of libvlc, loaded at run time. The program uses the one of vlcLibrary(); tests make their
// own with another file name to see a missing or incomplete library. UI thread.
class VlcLibrary {
public:
    struct Table; // entry points, filled by name; vlcapi.cpp alone knows its layout

    // Last-error values of VLD_Startup.
    static constexpr int kNotLoaded = -1;
    static constexpr int kNameMissing = -2;

    explicit VlcLibrary(QString fileName = defaultFileName());
    // libvlc stays loaded for the life of the process: its threads may outlive every object of ours.
    ~VlcLibrary();
    VlcLibrary(const VlcLibrary&) = delete;
    VlcLibrary& operator=(const VlcLibrary&) = delete;

    // Loads the library once (normal search, then the install directory) and binds every entry
    // point again; each missing name is logged. Returns the last error: 0, kNotLoaded or kNameMissing.
    int VLD_Startup();
    // Returns the last error and resets it to 0.
    int lastError();

    bool loaded() const { return m_handle != nullptr; }
    // Loaded and every entry point found.
    bool complete() const;
    QString fileName() const { return m_fileName; }
    // The loader's message for the last failed load, with the file it tried.
    QString loadError() const { return m_loadError; }
    QStringList missingNames() const { return m_missing; }
    const Table* table() const { return m_table.get(); }

    static QString defaultFileName(); // "libvlc.so.5"
    // The names bound, in order.
    static QStringList entryPointNames();

private:
    QString m_fileName;
    void* m_handle = nullptr;
    int m_lastError = 0;
    QString m_loadError;
    QStringList m_missing;
    std::unique_ptr<Table> m_table;
};

// The program's binding.
VlcLibrary& vlcLibrary();
// VLD_Startup of the program's binding.
int VLD_Startup();
// The engine's plugin folder, with a trailing '/': our equivalent of VLC's install directory, read
// once. Empty when it cannot be found.
QString VlcInstallDir();

// What the old per-item option names become for libvlc 3, which ignores the old ones silently.
struct VlcTargetOptions {
    QStringList mediaOptions; // go onto the media
    QString deinterlaceMode;  // for libvlc_video_set_deinterlace; empty: leave the engine's choice
    QStringList dropped;      // old options with no counterpart (built in or unknown), for the log
};
// timeshiftDir: folder for ":timeshift-dir"; ":timeshift-granularity" is in MiB, libvlc 3 takes bytes.
VlcTargetOptions mapTargetOptions(const QStringList& options, const QString& timeshiftDir);

// The engine's counters for the current item.
struct VlcStats {
    int decodedVideo = 0;
    int displayedPictures = 0;
    int lostPictures = 0;
    int decodedAudio = 0;
    int playedAudioBuffers = 0;
    qint64 readBytes = 0;
    qint64 demuxReadBytes = 0;
};

enum class VlcState { Idle, Opening, Buffering, Playing, Paused, Stopped, Ended, Error };

// One engine instance (our "VlcHandle") over libvlc 3: an instance and its media player, the
// current target, and the adapter of the old calls. UI thread. Engine event callbacks only copy
// and post to this object; the stop that libvlc may block in runs on a helper thread.
class VlcEngine : public QObject {
    Q_OBJECT
public:
    // How long stop() may keep the player busy before it is abandoned for a fresh one.
    static constexpr int kStopBoundMs = 3000;

    explicit VlcEngine(VlcLibrary& library, QObject* parent = nullptr);
    ~VlcEngine() override;

    // VLC_Create + VLC_Init: the instance (with "--no-xlib" and the given arguments) and its player.
    // installDir is the single start argument of the old interface; it is only logged now.
    // Returns VLC_SUCCESS or VLC_EGENERIC (library missing, instance refused).
    int create(const QString& installDir, const QStringList& arguments = {});
    // 1 while an instance exists, else 0.
    int handle() const { return m_instance ? 1 : 0; }

    // VLC_VariableSet / VLC_VariableGet for the variables the program uses: "drawable" (native
    // window id), "conf::width", "conf::height", "conf::audio-visual", "conf::audio-track".
    // Unknown names give VLC_EBADVAR.
    int VLC_VariableSet(const QString& name, qint64 value);
    int VLC_VariableSet(const QString& name, const QString& text);
    int VLC_VariableGet(const QString& name, qint64* value) const;

    // VLC_AddTarget: the MRL and its old-style options become the current item (a later target
    // replaces it); mode and position are those of the old call and only logged.
    int VLC_AddTarget(const QString& mrl, const QStringList& options, int mode = 2, int position = -666);
    int VLC_Play();
    // Pauses (never toggles, unlike libvlc's own pause).
    int VLC_Pause();
    // Stops on a helper thread and returns at once; isPlaying() stays true until that stop is done
    // or abandoned (see kStopBoundMs).
    int VLC_Stop();
    // Non-zero while the engine plays (or is still busy stopping).
    int VLC_IsPlaying();
    // 0..100; the value set last while the engine has no audio output yet.
    int VLC_VolumeGet() const;
    void VLC_VolumeSet(int volume);
    // Toggles muting.
    int VLC_VolumeMute();
    QString VLC_Version() const;
    // Drops the current item.
    int VLC_PlaylistClear();
    // Ends the instance (bounded like a stop).
    int VLC_Die();

    // The engine's own view, for the status, the watchdog and tests.
    VlcState state() const;
    // Still connecting or buffering: not playing yet, but holding a stream that a stop must end.
    bool opening() const;
    bool stopPending() const { return m_stopJob != nullptr; }
    QString mrl() const { return m_mrl; }
    QStringList targetOptions() const { return m_options; }
    // What the last VLC_Play handed to libvlc.
    QStringList appliedMediaOptions() const { return m_appliedOptions; }
    QString appliedDeinterlaceMode() const { return m_appliedDeinterlace; }
    VlcStats stats() const;
    QSize videoSize() const;
    // Audio track ES ids in the engine's order (without "Disable") and the selected one (-1: none).
    std::vector<int> audioTrackIds() const;
    int currentAudioTrackId() const;
    // Straight from the audio output: -1 when there is none.
    int engineVolume() const;
    int engineMuted() const;
    // Video outputs the engine reported.
    int videoOutputs() const { return m_vouts; }

    // While paused, libvlc 3's video output converts and scales the same picture again every
    // 80 ms, in software where the X server cannot scale. A program that can show the paused
    // picture itself asks for it here: stillPictureReady follows (on this thread) with a file that
    // lasts until the slot returns, if the engine is still paused on the same item by then. After
    // releaseVideo the engine keeps no video output until the next VLC_Play, which takes the
    // same video track up again. Not while the stream is also re-served.
    void requestStillPicture();
    bool releaseVideo();
    bool videoReleased() const { return m_releasedVideoTrack >= 0; }
    // Folder for the time-shift files (":timeshift-dir"); the system's temp folder by default.
    void setTimeshiftDir(const QString& dir) { m_timeshiftDir = dir; }
    QString timeshiftDir() const { return m_timeshiftDir; }

    // The engine's own messages (debug level included) since the last clear, at most kMaxLogLines:
    // the latest minute or so of playback, for a look at what the engine did; more would hold
    // megabytes for good once the engine has talked long enough.
    static constexpr int kMaxLogLines = 4000;
    QStringList engineLog() const;
    void clearEngineLog();

    // Layouts live in vlcapi.cpp; the engine's callbacks there reach these.
    struct Handles;
    struct StopJob;
    struct StillJob;
    struct LogSink;
    // Queued from an engine event callback; events of an older player are ignored.
    void onEngineEvent(int generation, int type, int count);

Q_SIGNALS:
    void playing();
    void paused();
    void stopped();
    void endReached();
    void encounteredError();
    void videoOutputChanged(int count);
    // The video output is back after a resume took a released video track up again. libvlc 3
    // reuses the old output's window and draws at the picture's own size until that window is
    // told its size again.
    void videoOutputRestored();
    void stillPictureReady(const QString& file);
    void stopFinished();

private:
    bool ensurePlayer();
    bool isActive() const;
    void attachEvents();
    void detachEvents();
    void applyPlayerSettings();
    void applyAudio();
    bool finishStop(int waitMs);
    void abandonStop();
    void finishStill();
    bool pausedHere() const;
    bool serving() const;
    void onStillTaken(bool taken);
    void restoreVideo();

    VlcLibrary& m_library;
    std::unique_ptr<Handles> m_h;
    void* m_instance = nullptr; // mirror of the instance handle for handle()
    std::shared_ptr<LogSink> m_log;
    std::shared_ptr<StopJob> m_stopJob;
    std::unique_ptr<StillJob> m_stillJob;
    std::atomic<bool> m_stillDone{false};
    std::unique_ptr<QTemporaryDir> m_stillDir;
    int m_releasedVideoTrack = -1;
    bool m_outputRestoring = false; // a released track taken up again, its output not yet back
    bool m_pauseWanted = false;
    int m_pauseSerial = 0; // counts the pauses, so a picture is matched to its own
    int m_generation = 0;
    quintptr m_drawable = 0;
    QSize m_panelSize;
    qint64 m_audioTrack = -1;
    qint64 m_appliedTrack = -1;
    bool m_targetDirty = true;
    int m_volume = 100;
    bool m_muted = false;
    int m_vouts = 0;
    QString m_mrl;
    QStringList m_options;
    QStringList m_appliedOptions;
    QString m_appliedDeinterlace;
    QString m_timeshiftDir;
};
