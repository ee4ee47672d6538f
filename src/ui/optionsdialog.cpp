#include "ui/optionsdialog.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/log.h"
#include "core/options.h"
#include "ui/numedit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTabWidget>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

QString str(const char* s) {
    return QString::fromLatin1(s);
}

const char* const kFlagHints[12] = {
    "Provide A Http Stream, quoxel-Mode",
    "Remember Current Window State",
    "Switch SPTS Off On Close",
    "Start Quoxel In Fullscreen",
    "Lock Remote Control On Start",
    "Hide The Taskbar Entry",
    "Don't Show EPG On Window<->Fullscreen",
    "Displays A Message On TV Screen At Start/Close",
    "Auto Telnet Connect On Start",
    "Prevent Start If D-Box Is Recording",
    "Disable Logging",
    "Disable EPG Thread, No Update Of EPG Data",
};

bool isHost(const QString& text) {
    // Dotted numbers must be a whole IPv4 address: "1.2.3" or "192.168.1.300" is a typing error, not a name.
    static const QRegularExpression numeric(QStringLiteral("^[0-9.]+$"));
    static const QRegularExpression dotted(QStringLiteral("^[0-9]{1,3}(\\.[0-9]{1,3}){3}$"));
    QHostAddress address;
    if (numeric.match(text).hasMatch())
        return dotted.match(text).hasMatch() && address.setAddress(text);
    if (text.contains(QLatin1Char(':')))
        return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv6Protocol;
    static const QRegularExpression name(
        QStringLiteral("^(?=.{1,253}$)([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}["
                       "A-Za-z0-9])?)*\\.?$"));
    return name.match(text).hasMatch();
}

// A whole number within the bounds; empty counts as zero.
bool inRange(const QString& text, qint64 lo, qint64 hi) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return lo <= 0;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    if (t.size() > 10)
        return false;
    const qint64 v = t.toLongLong();
    return v >= lo && v <= hi;
}

} // namespace

QString settingProblem(SettingId id, const QString& value, const QString& mode) {
    const QString v = value.trimmed();
    switch (id) {
    case SettingId::IpInet:
        if (v.isEmpty())
            return mode == QLatin1String("online") ? QStringLiteral("IP (INET) is needed in online mode!") : QString();
        return isHost(v) ? QString() : QStringLiteral("IP (INET) is no address!");
    case SettingId::IpLan:
        if (v.isEmpty())
            return mode == QLatin1String("online") ? QString() : QStringLiteral("IP (LAN) of the D-Box2 is needed!");
        return isHost(v) ? QString() : QStringLiteral("IP (LAN) is no address!");
    case SettingId::IpPc:
    case SettingId::IpQuoxel:
    case SettingId::VlcIp:
        return v.isEmpty() || isHost(v) ? QString() : QStringLiteral("%1 is no address!").arg(str(settingDef(id).key));
    case SettingId::DboxPort:
    case SettingId::TelnetPort:
        return inRange(v, 1, 65535) ? QString() : QStringLiteral("%1 must be 1..65535!").arg(str(settingDef(id).key));
    case SettingId::StreamPortProv:
    case SettingId::VlcPort:
    case SettingId::StreamPortHttp:
    case SettingId::StreamPortUdp:
        // Zero or empty: not used in this set-up.
        return inRange(v, 0, 65535) ? QString() : QStringLiteral("%1 must be 1..65535!").arg(str(settingDef(id).key));
    case SettingId::OsdShowTime:
        return inRange(v, 0, 600000) ? QString() : QStringLiteral("OSD Time must be 0..600000 ms!");
    case SettingId::CacheOnline:
    case SettingId::CacheLive:
        return inRange(v, 0, 60000) ? QString()
                                    : QStringLiteral("%1 must be 0..60000 ms!").arg(str(settingDef(id).key));
    case SettingId::VBitrate:
        return inRange(v, 1, 50000) ? QString() : QStringLiteral("Video Bitrate must be 1..50000!");
    case SettingId::ABitrate:
        return inRange(v, 1, 1024) ? QString() : QStringLiteral("Audio Bitrate must be 1..1024!");
    case SettingId::AChannels:
        return inRange(v, 1, 8) ? QString() : QStringLiteral("Audio Channels must be 1..8!");
    case SettingId::VScale: {
        static const QRegularExpression form(QStringLiteral("^[0-9]{1,3}([.,][0-9]{1,2})?$"));
        QString dot = v;
        dot.replace(QLatin1Char(','), QLatin1Char('.'));
        const double d = dot.toDouble();
        return form.match(v).hasMatch() && d > 0 && d <= 10 ? QString()
                                                            : QStringLiteral("Video Scale must be 0,01..10!");
    }
    default:
        // Free texts: a line break would end the ini line and start a new key.
        return hasControlCharacter(value) ? QStringLiteral("%1 holds a control character!").arg(str(settingDef(id).key))
                                          : QString();
    }
}

TFrmOptions::TFrmOptions(SettingsStore& store, TOptions& options, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_options(options) {
    setWindowTitle(QStringLiteral("Options"));
    m_pages = new QTabWidget(this);
    m_pages->addTab(buildGeneral(), QStringLiteral("General"));
    m_pages->addTab(buildDBox2(), QStringLiteral("D-Box2"));
    m_pages->addTab(buildVlc(), QStringLiteral("VLC"));
    m_pages->addTab(buildTelnet(), QStringLiteral("Telnet"));
    m_pages->addTab(buildHotkeys(), QStringLiteral("Hotkeys"));
    m_pages->addTab(buildWebServer(), QStringLiteral("WebServer"));

    m_ok = new QPushButton(QStringLiteral("Ok"), this);
    m_ok->setObjectName(QStringLiteral("BtnOk"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("BtnCancel"));
    for (QPushButton* b : {m_ok, m_cancel})
        b->setFixedSize(std::max(78, b->sizeHint().width()), std::max(21, b->sizeHint().height()));
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("LblProblem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000;"));
    // Laid out rather than placed: the designed 428 x 299 is the least size, and the dialog grows
    // where the screen's fonts need more, so no caption is cut.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(6);
    layout->addWidget(m_pages);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_problem, 1);
    layout->addLayout(buttons);
    // Enter confirms, Esc cancels (QDialog sends Esc to reject()).
    connect(m_ok, &QPushButton::clicked, this, &TFrmOptions::OkClick);
    connect(m_cancel, &QPushButton::clicked, this, &TFrmOptions::BtnCancelClick);

    m_ask = [this](const QString& question) {
        return QMessageBox::warning(this, QStringLiteral("Quoxel"), question, QMessageBox::Ok | QMessageBox::Cancel) ==
               QMessageBox::Ok;
    };
    m_pages->setCurrentIndex(PageGeneral);
    loadControls();
    setFixedSize(minimumSizeHint().expandedTo(QSize(428, 299)));
}

TFrmOptions::~TFrmOptions() = default;

void TFrmOptions::hideReceiverPages() {
    for (int page : {PageDBox2, PageVlc, PageWebServer})
        m_pages->setTabVisible(page, false);
    m_pages->setCurrentIndex(PageGeneral);
}

QLineEdit* TFrmOptions::addEdit(QWidget* page, SettingId id, const QString& hint) {
    auto* e = new QLineEdit(page);
    e->setObjectName(str(settingDef(id).control));
    e->setToolTip(hint);
    // An address fits; the dialog is sized from these least widths.
    e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 10);
    if (settingDef(id).type == SettingType::Secret)
        e->setEchoMode(QLineEdit::Password);
    m_editors[static_cast<int>(id)] = e;
    watch(e);
    return e;
}

TNumEdit* TFrmOptions::addNumber(QWidget* page, SettingId id, const QString& hint, int decimals) {
    auto* e = new TNumEdit(page);
    e->setObjectName(str(settingDef(id).control));
    e->setDecimals(decimals);
    e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 10);
    if (!hint.isEmpty())
        e->setToolTip(hint);
    m_editors[static_cast<int>(id)] = e;
    watch(e);
    return e;
}

QComboBox* TFrmOptions::addList(QWidget* page, SettingId id, const QString& hint) {
    auto* c = new QComboBox(page);
    c->setObjectName(str(settingDef(id).control));
    c->addItems(settingItems(id));
    if (!hint.isEmpty())
        c->setToolTip(hint);
    m_editors[static_cast<int>(id)] = c;
    watch(c);
    return c;
}

void TFrmOptions::watch(QWidget* w) {
    if (auto* e = qobject_cast<QLineEdit*>(w))
        connect(e, &QLineEdit::textChanged, this, [this] { validate(); });
    else if (auto* c = qobject_cast<QComboBox*>(w))
        connect(c, &QComboBox::currentIndexChanged, this, [this] { validate(); });
}

QWidget* TFrmOptions::buildGeneral() {
    auto* page = new QWidget;
    auto* box = new QGroupBox(QStringLiteral("General"), page);
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(box);
    auto* row = new QHBoxLayout(box);
    auto* form = new QFormLayout;
    form->setVerticalSpacing(2);
    form->addRow(
        QStringLiteral("Mode"),
        addList(page, SettingId::Mode,
                QStringLiteral("Live, stream directly from dbox2\nOnline, stream from remote vlc\nQuoxel, stream "
                               "of a running Quoxel")));
    form->addRow(QStringLiteral("IP (PC)"),
                 addEdit(page, SettingId::IpPc,
                         QStringLiteral("ip of the pc where quoxel is running now\n(needed for udp streaming only)")));
    form->addRow(
        QStringLiteral("IP (INET)"),
        addEdit(page, SettingId::IpInet,
                QStringLiteral("online ip for all webinterfaces and online stream (e.g. dynip)\n(used in online "
                               "mode)")));
    form->addRow(QStringLiteral("IP (QUOXEL)"),
                 addEdit(page, SettingId::IpQuoxel,
                         QStringLiteral("ip of pc where another quoxel is running\n(used in quoxel mode)")));
    form->addRow(QStringLiteral("OSD Time"), addNumber(page, SettingId::OsdShowTime, QStringLiteral("osd show time")));
    form->addRow(QStringLiteral("Stream Type"),
                 addList(page, SettingId::StreamType, QStringLiteral("choose between http and udp streaming")));
    form->addRow(QStringLiteral("Stream Port"), addNumber(page, SettingId::StreamPortProv,
                                                          QStringLiteral("stream port of self provided http stream")));
    form->addRow(QStringLiteral("Priority"),
                 addList(page, SettingId::Priority, QStringLiteral("choose between http and udp streaming")));
    row->addLayout(form);

    m_flags = new QListWidget(page);
    m_flags->setObjectName(QStringLiteral("LstFlags"));
    m_flags->setMouseTracking(true);
    m_flags->viewport()->setMouseTracking(true);
    m_flags->viewport()->installEventFilter(this);
    for (const QString& caption : flagCaptions()) {
        auto* item = new QListWidgetItem(caption, m_flags);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    // Every flag in sight with its whole caption: at least the designed 184 x 172.
    m_flags->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_flags->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int frame = 2 * m_flags->frameWidth();
    m_flags->setFixedSize(std::max(184, m_flags->sizeHintForColumn(0) + frame + 4),
                          std::max(172, m_flags->count() * m_flags->sizeHintForRow(0) + frame + 2));
    row->addWidget(m_flags, 0, Qt::AlignTop);
    // Below both, over the group's width.
    auto* note = new QLabel(QStringLiteral("mode, stream type and the D-Box2 address apply at the next start"), page);
    note->setObjectName(QStringLiteral("LblRestartNote"));
    outer->addWidget(note);
    return page;
}

QWidget* TFrmOptions::buildDBox2() {
    auto* page = new QWidget;
    auto* box = new QGroupBox(QStringLiteral("D-Box2"), page);
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(box);
    auto* form = new QFormLayout(box);
    form->addRow(QStringLiteral("IP (LAN)"), addEdit(page, SettingId::IpLan, QStringLiteral("LAN Ip of D-Box2")));
    form->addRow(QStringLiteral("Http Port"),
                 addNumber(page, SettingId::DboxPort, QStringLiteral("Webinterface Port")));
    form->addRow(QStringLiteral("User"), addEdit(page, SettingId::WebUser, QStringLiteral("Webinterface User")));
    form->addRow(QStringLiteral("Passwort"),
                 addEdit(page, SettingId::WebPass, QStringLiteral("Webinterface Password")));
    // A receiver on port 443 is trusted with the key it showed first; after a new firmware or
    // certificate the user lets it be learned again.
    m_btnForget = new QPushButton(QStringLiteral("Forget Stored Certificates"), page);
    m_btnForget->setObjectName(QStringLiteral("BtnForgetCertificates"));
    m_btnForget->setToolTip(QStringLiteral("Trust the certificate a receiver shows at the next connection"));
    m_btnForget->setEnabled(false);
    m_certStatus = new QLabel(page);
    m_certStatus->setObjectName(QStringLiteral("LblCertificates"));
    m_certStatus->setWordWrap(true);
    form->addRow(m_btnForget);
    form->addRow(m_certStatus);
    connect(m_btnForget, &QPushButton::clicked, this, &TFrmOptions::BtnForgetCertificatesClick);
    return page;
}

void TFrmOptions::setForgetCertificates(std::function<int()> forget) {
    m_forgetCertificates = std::move(forget);
    m_btnForget->setEnabled(bool(m_forgetCertificates));
}

void TFrmOptions::BtnForgetCertificatesClick() {
    if (!m_forgetCertificates)
        return;
    const QString question = QStringLiteral("Forget the stored certificates? At the next connection each receiver is "
                                            "trusted with the certificate it shows.");
    if (!m_ask(question))
        return;
    const int forgotten = m_forgetCertificates();
    if (forgotten < 0)
        m_certStatus->setText(QStringLiteral("The certificates could not be forgotten: Quoxel.ini is not writable"));
    else
        m_certStatus->setText(QString::number(forgotten) + QStringLiteral(" stored certificate(s) forgotten"));
}

QWidget* TFrmOptions::buildVlc() {
    auto* page = new QWidget;
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(4, 4, 4, 4);
    auto* vlc = new QGroupBox(QStringLiteral("VLC"), page);
    vlc->setMinimumWidth(205);
    auto* online = new QGroupBox(QStringLiteral("Online Stream"), page);
    online->setMinimumWidth(191);
    row->addWidget(vlc);
    row->addWidget(online);
    auto* left = new QFormLayout(vlc);
    left->setVerticalSpacing(2);
    left->addRow(
        QStringLiteral("IP (local)"),
        addEdit(page, SettingId::VlcIp,
                QStringLiteral("local IP from the pc where vlc provides the online stream!\n(it's needed for the "
                               "output settings of the vlc stream!)")));
    left->addRow(QStringLiteral("Http Port"),
                 addNumber(page, SettingId::VlcPort, QStringLiteral("port of the vlc webinterface")));
    left->addRow(QStringLiteral("Stream Port UDP"),
                 addNumber(page, SettingId::StreamPortUdp, QStringLiteral("port of the udp stream")));
    left->addRow(QStringLiteral("Stream Port HTTP"),
                 addNumber(page, SettingId::StreamPortHttp, QStringLiteral("port of the http stream")));
    left->addRow(QStringLiteral("Cache Online (ms)"),
                 addNumber(page, SettingId::CacheOnline, QStringLiteral("time of prebuffering online stream")));
    left->addRow(QStringLiteral("Cache Live (ms)"),
                 addNumber(page, SettingId::CacheLive, QStringLiteral("time of prebuffering live stream")));
    left->addRow(QStringLiteral("Password"),
                 addEdit(page, SettingId::VlcPassword,
                         QStringLiteral("password of the web interface of VLC 2 or later (--http-password)")));
    auto* fastZap = new QCheckBox(QStringLiteral("Fast Zap"), page);
    fastZap->setObjectName(str(settingDef(SettingId::FastZap).control));
    fastZap->setToolTip(QStringLiteral("switch channels as soon as the receiver and vlc are ready,\nnot after fixed "
                                       "waits (live mode)"));
    m_editors[static_cast<int>(SettingId::FastZap)] = fastZap;
    left->addRow(fastZap);
    auto* right = new QFormLayout(online);
    right->setVerticalSpacing(2);
    right->addRow(QStringLiteral("Video Codec"), addList(page, SettingId::VCodec, QString()));
    right->addRow(QStringLiteral("Video Bitrate"), addNumber(page, SettingId::VBitrate, QString()));
    right->addRow(QStringLiteral("Video Scale"), addNumber(page, SettingId::VScale, QString(), 2));
    right->addRow(QStringLiteral("Audio Codec"), addList(page, SettingId::ACodec, QString()));
    right->addRow(QStringLiteral("Audio Bitrate"), addNumber(page, SettingId::ABitrate, QString()));
    right->addRow(QStringLiteral("Audio Channels"), addNumber(page, SettingId::AChannels, QString()));
    return page;
}

QWidget* TFrmOptions::buildTelnet() {
    auto* page = new QWidget;
    auto* box = new QGroupBox(QStringLiteral("Telnet/FTP"), page);
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(box);
    auto* form = new QFormLayout(box);
    form->addRow(QStringLiteral("Http Port"),
                 addNumber(page, SettingId::TelnetPort, QStringLiteral("telnet/ftp port")));
    form->addRow(QStringLiteral("User"), addEdit(page, SettingId::TelnetUser, QStringLiteral("telnet/ftp user")));
    form->addRow(QStringLiteral("Passwort"),
                 addEdit(page, SettingId::TelnetPass, QStringLiteral("telnet/ftp password")));
    form->addRow(QStringLiteral("nhttpd-File"),
                 addEdit(page, SettingId::TelnetNhttpd,
                         QStringLiteral("filename with path of nhttpd, needed for telnet command")));
    return page;
}

QString TFrmOptions::hotkeysText() {
    const auto key = [](const char* name, const char* text) {
        return QString::fromUtf8(name).leftJustified(23, QLatin1Char(' ')) + QString::fromUtf8(text);
    };
    const auto more = [](const char* text) { return QString(23, QLatin1Char(' ')) + QString::fromUtf8(text); };
    const auto wrap = [](const char* text) { return QString(25, QLatin1Char(' ')) + QString::fromUtf8(text); };
    const QStringList lines{
        QStringLiteral("VLC-Hotkeys: -Vollbild darf nicht ESC sein, wir im Moment"),
        QString(14, QLatin1Char(' ')) + QStringLiteral("fest von Quoxel genutzt!"),
        QString(),
        key("ESC", "- EPG/Telnet/Remote Control verstecken"),
        more("- Umschaltung Vollbild-/Window-Modus"),
        key("I", "- EPG-Info zeigen, 2x für Details,"),
        wrap("3x schließt die Ansicht"),
        more("- Channel Overview, Anzeige aktuelles Program"),
        wrap("des ausgewählten Kanals"),
        key("O", "- Channel Overview zeigen, 2x schließt die Ansicht"),
        key("R", "- Remote Control (D-Box2 OSD) zeigen"),
        key("T", "- Telnet zeigen"),
        key("Mouse Wheel", "- Volume-Einstellung"),
        more("- Channel-Overview scrollen"),
        key("Mouse Middle Click", "- EPG-Info zeigen"),
        key("Mouse Left Doubleclick", "- Wechsel Vollbild-/Window-Mode"),
        key("Mouse Right Click", "- Popup-Menu"),
        key("STRG+R", "- Restart VLC (alle anderen Menü-Shortcuts"),
        wrap("gehen erstmal nur im Window-Mode)"),
        key("F8", "- Stay On Top Toggle"),
        key("F9", "- Video Only Toggle"),
        key("UP/DOWN", "- Kanal-Auswahl im Hauptfenster"),
        more("- Kanal-Auswahl in EPG-Info"),
        more("- Kanal-Auswahl in Channel-Overview"),
        key("LEFT/RIGHT", "- Naviation in OSD"),
    };
    return lines.join(QLatin1Char('\n'));
}

QWidget* TFrmOptions::buildHotkeys() {
    auto* page = new QWidget;
    auto* box = new QGroupBox(QStringLiteral("Hotkeys"), page);
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(box);
    auto* inner = new QVBoxLayout(box);
    auto* scroll = new QScrollArea(box);
    auto* label = new QLabel(hotkeysText());
    label->setObjectName(QStringLiteral("LblHotkeys"));
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(9);
    label->setFont(font);
    label->setMinimumSize(353, 240);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll->setWidget(label);
    // The list is read by scrolling: it does not size the dialog.
    scroll->setMinimumSize(120, 80);
    inner->addWidget(scroll);
    return page;
}

QWidget* TFrmOptions::buildWebServer() {
    auto* page = new QWidget;
    auto* box = new QGroupBox(QStringLiteral("WebServer"), page);
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(box);
    auto* form = new QFormLayout(box);
    m_btnRead = new QPushButton(QStringLiteral("Read Current Settings"), page);
    m_btnRead->setObjectName(QStringLiteral("BtnRead"));
    form->addRow(m_btnRead);
    m_lblWebPort = new QLabel(QStringLiteral("Http Port"), page);
    m_webPort = new TNumEdit(page);
    m_webPort->setObjectName(QStringLiteral("EdtWebSrvPort"));
    form->addRow(m_lblWebPort, m_webPort);
    m_webThread = new QCheckBox(QStringLiteral("Threading"), page);
    m_webThread->setObjectName(QStringLiteral("ChkWebSrvThread"));
    form->addRow(m_webThread);
    m_btnUpdate = new QPushButton(QStringLiteral("Update && Restart"), page);
    m_btnUpdate->setObjectName(QStringLiteral("BtnUpdateRestart"));
    form->addRow(m_btnUpdate);
    m_webStatus = new QLabel(page);
    m_webStatus->setWordWrap(true);
    m_webStatus->setObjectName(QStringLiteral("LblWebStatus"));
    form->addRow(m_webStatus);
    // The update sends back what was read, so it stays off until a read succeeded.
    for (QWidget* w : {static_cast<QWidget*>(m_lblWebPort), static_cast<QWidget*>(m_webPort),
                       static_cast<QWidget*>(m_webThread), static_cast<QWidget*>(m_btnUpdate)})
        w->setEnabled(false);
    connect(m_btnRead, &QPushButton::clicked, this, &TFrmOptions::BtnReadClick);
    connect(m_btnUpdate, &QPushButton::clicked, this, &TFrmOptions::BtnUpdateRestartClick);
    return page;
}

QWidget* TFrmOptions::editor(SettingId id) const {
    return m_editors[static_cast<int>(id)];
}

QString TFrmOptions::controlValue(SettingId id) const {
    const SettingDef& d = settingDef(id);
    if (d.flagIndex >= 0)
        return m_flags->item(d.flagIndex)->checkState() == Qt::Checked ? QStringLiteral("1") : QStringLiteral("0");
    QWidget* w = editor(id);
    if (auto* b = qobject_cast<QCheckBox*>(w))
        return b->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->currentText();
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        // A numeric field shows zero as empty; the file keeps the number.
        if ((d.type == SettingType::Number || d.type == SettingType::Decimal) && e->text().trimmed().isEmpty())
            return QStringLiteral("0");
        return e->text();
    }
    return m_store.value(id); // the window keys have no control
}

void TFrmOptions::setControlValue(SettingId id, const QString& value) {
    const SettingDef& d = settingDef(id);
    if (d.flagIndex >= 0) {
        m_flags->item(d.flagIndex)->setCheckState(value == QLatin1String("1") ? Qt::Checked : Qt::Unchecked);
        return;
    }
    QWidget* w = editor(id);
    if (auto* b = qobject_cast<QCheckBox*>(w)) {
        b->setChecked(value == QLatin1String("1"));
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const int i = c->findText(value, Qt::MatchFixedString);
        c->setCurrentIndex(i >= 0 ? i : std::max(0, c->findText(str(d.absent))));
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        const bool number = d.type == SettingType::Number || d.type == SettingType::Decimal;
        e->setText(number && value.trimmed() == QLatin1String("0") ? QString() : value);
    }
}

void TFrmOptions::loadControls() {
    m_loading = true;
    for (const SettingDef& d : settingsTable())
        setControlValue(d.id, m_store.value(d.id));
    m_loading = false;
    validate();
}

void TFrmOptions::storeControls() {
    for (const SettingDef& d : settingsTable()) {
        if (d.flagIndex >= 0 || editor(d.id))
            m_store.setValue(d.id, controlValue(d.id));
    }
}

bool TFrmOptions::validate() {
    if (m_loading)
        return false;
    const QString mode = controlValue(SettingId::Mode);
    QString first;
    for (const SettingDef& d : settingsTable()) {
        QWidget* w = editor(d.id);
        if (!w)
            continue;
        const QString problem = settingProblem(d.id, controlValue(d.id), mode);
        const bool bad = !problem.isEmpty();
        if (w->property("invalid").toBool() != bad) {
            w->setProperty("invalid", bad);
            w->setStyleSheet(bad ? QStringLiteral("background: #ffd0d0;") : QString());
        }
        if (bad && first.isEmpty())
            first = problem;
    }
    m_problem->setText(first);
    m_ok->setEnabled(first.isEmpty());
    return first.isEmpty();
}

QString TFrmOptions::problemText() const {
    return m_problem->text();
}

void TFrmOptions::createStore() {
    m_store.create(m_options, this);
    m_pages->setCurrentIndex(PageGeneral);
    loadControls();
}

bool TFrmOptions::runFirstStart(SettingsStore& store) {
    Q_UNUSED(store); // the same store this dialog edits
    loadControls();
    if (m_hideSplash)
        m_hideSplash();
    m_pages->setCurrentIndex(PageDBox2);
    return exec() == QDialog::Accepted;
}

void TFrmOptions::OkClick() {
    if (!validate())
        return;
    const SettingId restartKeys[] = {SettingId::Mode, SettingId::StreamType, SettingId::IpLan, SettingId::IpInet,
                                     SettingId::DboxPort};
    bool restart = false;
    for (SettingId id : restartKeys)
        restart = restart || controlValue(id) != m_store.value(id);
    storeControls();
    if (!m_store.SaveSettings()) {
        // The file on disk is unchanged; keep the edits so the user can try again.
        m_problem->setText(QStringLiteral("settings not saved: ") + m_store.lastError());
        Log(LogFunc, QStringLiteral("Options: settings not saved: ") + m_store.lastError());
        return;
    }
    m_store.LoadSettings(m_options);
    loadControls();
    m_restartNeeded = restart;
    if (restart)
        ShowStatus(QStringLiteral("mode and D-Box2 address apply at the next start!"));
    accept();
}

void TFrmOptions::BtnCancelClick() {
    reject();
}

void TFrmOptions::done(int result) {
    if (result != QDialog::Accepted) {
        // Esc and the close box end here too: drop the edits by reading the file again.
        m_store.LoadSettings(m_options);
        loadControls();
    }
    if (m_windowState)
        m_store.SaveWindowState(m_windowState(), m_options);
    QDialog::done(result);
}

bool TFrmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_flags->viewport() && event->type() == QEvent::MouseMove)
        LstFlagsMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
    return QDialog::eventFilter(watched, event);
}

void TFrmOptions::LstFlagsMouseMove(const QPoint& pos) {
    QListWidgetItem* item = m_flags->itemAt(pos);
    if (!item) {
        m_flags->setToolTip(QString());
        QToolTip::hideText();
        return;
    }
    const QString hint = QString::fromUtf8(kFlagHints[m_flags->row(item)]);
    m_flags->setToolTip(hint);
    if (QToolTip::text() != hint)
        QToolTip::showText(m_flags->viewport()->mapToGlobal(pos), hint, m_flags);
}

void TFrmOptions::BtnReadClick() {
    if (!m_box)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString page = m_box->BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/Y_Settings_nhttpd.yhtm")));
    QApplication::restoreOverrideCursor();
    m_web = parseWebServerPage(page);
    const bool ok = m_web.has_value();
    for (QWidget* w : {static_cast<QWidget*>(m_lblWebPort), static_cast<QWidget*>(m_webPort),
                       static_cast<QWidget*>(m_webThread), static_cast<QWidget*>(m_btnUpdate)})
        w->setEnabled(ok);
    if (!ok) {
        m_webStatus->setText(page.isEmpty() ? QStringLiteral("no answer from the D-Box2!")
                                            : QStringLiteral("settings page not readable!"));
        return;
    }
    m_webStatus->setText(QStringLiteral("settings read!"));
    m_webPort->setText(m_web->value("port"));
    m_webThread->setChecked(m_web->value("threading") != QLatin1String("false"));
}

void TFrmOptions::BtnUpdateRestartClick() {
    if (!m_box || !m_web || !m_webPort->isEnabled())
        return;
    const std::optional<int> number = webServerPort(m_webPort->text());
    if (!number) {
        m_webStatus->setText(QStringLiteral("Http Port must be 1..65535!"));
        return;
    }
    const QString port = QString::number(*number);
    WebServerSettings s = *m_web;
    s.values[WebServerSettings::kPort] = port;
    s.values[WebServerSettings::kThreading] =
        m_webThread->isChecked() ? QStringLiteral("true") : QStringLiteral("false");
    const WebServerUpdate update = webServerUpdate(s);
    m_box->MaskedRequest(update.url, update.logged);
    if (m_ask(QStringLiteral("Dbox Reboot?")))
        m_box->BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/reboot")));
    // Only the port goes to the file; other edits still wait for Ok or Cancel.
    setControlValue(SettingId::DboxPort, port);
    m_store.setValue(SettingId::DboxPort, port);
    if (!m_store.SaveSettings())
        m_webStatus->setText(QStringLiteral("settings not saved: ") + m_store.lastError());
    else
        m_webStatus->setText(QStringLiteral("web server updated!"));
}
