#include "dataset.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <map>

namespace boxsim {

extern const char* const kBuiltinDataJson; // generated from data/default.json

namespace {

struct Loader {
    DataSet* data;
    long long nowSec;
    std::map<std::string, int> byId;

    std::string text(const QJsonValue& v) const {
        const QString s = v.toString();
        const QByteArray bytes = data->encoding == "utf-8" ? s.toUtf8() : s.toLatin1();
        return bytes.toStdString();
    }

    static int pidValue(const QJsonValue& v, int fallback) {
        if (v.isDouble())
            return v.toInt();
        if (v.isString()) {
            bool ok = false;
            const int n = v.toString().toInt(&ok, 0);
            return ok ? n : fallback;
        }
        return fallback;
    }

    // The list given in the data repeats until it covers a day from now, at most 500 entries.
    void layOutEpg(Channel& ch, int channelIndex, const QJsonArray& list, int startMinBeforeNow) {
        if (list.isEmpty())
            return;
        long long start = (nowSec / 60) * 60 - (long long)startMinBeforeNow * 60;
        const long long end = nowSec + 24 * 3600;
        for (int k = 0; start < end && k < 500; ++k) {
            const QJsonObject p = list[k % list.size()].toObject();
            Programme prog;
            prog.eventId = ((unsigned long long)(channelIndex + 1) << 24) + (unsigned long long)(k + 1);
            prog.startSec = start;
            prog.durationSec = std::max(1, p.value("durationMin").toInt(30)) * 60;
            prog.title = text(p.value("title"));
            prog.info1 = text(p.value("info1"));
            prog.info2 = text(p.value("info2"));
            ch.epg.push_back(prog);
            start += prog.durationSec;
        }
    }

    int addChannel(const QJsonObject& o, bool radio, int parent) {
        Channel ch;
        ch.id = o.value("id").toString().toLower().toStdString();
        ch.name = text(o.value("name"));
        ch.radio = radio;
        ch.parent = parent;
        ch.number = o.value("number").toInt(0);
        const QJsonObject pids = o.value("pids").toObject();
        const Channel* base = parent >= 0 ? &data->channels[size_t(parent)] : nullptr;
        ch.videoPid = pidValue(pids.value("video"), base ? base->videoPid : (radio ? 0 : 255));
        ch.pmtPid = pidValue(pids.value("pmt"), base ? base->pmtPid : 100);
        ch.vtxtPid = pidValue(pids.value("vtxt"), base ? base->vtxtPid : (radio ? 0 : 32));
        if (pids.contains("audio")) {
            for (const QJsonValue& a : pids.value("audio").toArray()) {
                const QJsonArray pair = a.toArray();
                ch.audio.push_back({pidValue(pair.at(0), 0), text(pair.at(1))});
            }
        } else if (base) {
            ch.audio = base->audio;
        } else {
            ch.audio.push_back({256, "deutsch"});
        }
        const QJsonObject si = o.value("streaminfo").toObject();
        ch.info.width = si.value("width").toInt(base ? base->info.width : (radio ? 0 : 720));
        ch.info.height = si.value("height").toInt(base ? base->info.height : (radio ? 0 : 576));
        ch.info.bitrate = (long long)si.value("bitrate").toDouble(base ? double(base->info.bitrate) : 4500000.0);
        ch.info.format = si.contains("format") ? text(si.value("format")) : (radio ? "unknown" : "4:3");
        ch.info.fps = si.contains("fps") ? text(si.value("fps")) : (radio ? "unknown" : "25");
        ch.info.audio = si.contains("audio") ? text(si.value("audio")) : "joint stereo";
        const int index = int(data->channels.size());
        layOutEpg(ch, index, o.value("epg").toArray(), o.value("epgStartMin").toInt(10 + 7 * (index % 5)));
        data->channels.push_back(std::move(ch));
        byId[data->channels.back().id] = index;
        for (const QJsonValue& s : o.value("subchannels").toArray()) {
            const int sub = addChannel(s.toObject(), radio, index);
            data->channels[size_t(index)].subchannels.push_back(sub);
        }
        return index;
    }

    // A bouquet may name its channels inline, refer to ones defined earlier by id, or ask for
    // a run of generated channels (to reach menu column breaks).
    std::vector<int> channelList(const QJsonArray& list, bool radio) {
        std::vector<int> out;
        for (const QJsonValue& v : list) {
            if (v.isString()) {
                const auto it = byId.find(v.toString().toLower().toStdString());
                if (it != byId.end())
                    out.push_back(it->second);
                continue;
            }
            const QJsonObject o = v.toObject();
            if (o.contains("generate")) {
                const int count = o.value("generate").toInt();
                const qulonglong base = o.value("idBase").toString().toULongLong(nullptr, 16);
                for (int i = 0; i < count; ++i) {
                    QJsonObject g;
                    g.insert("id", QString::number(base + qulonglong(i), 16));
                    g.insert("name", o.value("name").toString() + QString::asprintf(" %02d", i + 1));
                    g.insert("epg", o.value("epg"));
                    out.push_back(addChannel(g, radio, -1));
                }
                continue;
            }
            out.push_back(addChannel(o, radio, -1));
        }
        return out;
    }
};

} // namespace

int DataSet::find(const std::string& id) const {
    for (size_t i = 0; i < channels.size(); ++i) {
        if (channels[i].id == id)
            return int(i);
    }
    return -1;
}

std::string DataSet::transponder(int channel) const {
    const std::string& id = channels[size_t(channel)].id;
    return id.size() > 4 ? id.substr(0, id.size() - 4) : std::string("0");
}

QByteArray DataSet::builtinJson() {
    return QByteArray(kBuiltinDataJson);
}

bool DataSet::load(const QByteArray& json, long long nowSec, DataSet* out, std::string* error) {
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (!doc.isObject()) {
        *error = "data set is not a JSON object: " + pe.errorString().toStdString();
        return false;
    }
    const QJsonObject root = doc.object();
    DataSet data;
    data.encoding = root.value("encoding").toString("latin1").toLower().toStdString();
    if (data.encoding != "latin1" && data.encoding != "utf-8") {
        *error = "encoding must be latin1 or utf-8";
        return false;
    }
    data.clockOffsetSec = (long long)root.value("clockOffsetSec").toDouble(0);
    data.recording = root.value("recording").toBool(false);
    data.standby = root.value("standby").toBool(false);
    data.spts = root.value("spts").toBool(false);
    data.startChannel = root.value("startChannel").toString().toLower().toStdString();
    Loader loader{&data, nowSec, {}};
    for (const QJsonValue& v : root.value("bouquets").toArray()) {
        const QJsonObject b = v.toObject();
        Bouquet bouquet;
        bouquet.name = loader.text(b.value("name"));
        bouquet.hidden = b.value("hidden").toBool(false);
        bouquet.tv = loader.channelList(b.value("tv").toArray(), false);
        bouquet.radio = loader.channelList(b.value("radio").toArray(), true);
        data.bouquets.push_back(std::move(bouquet));
    }
    if (data.channels.empty()) {
        *error = "data set holds no channel";
        return false;
    }
    // Channel numbers count through all TV channels, then all radio channels, as the receiver does.
    int tvNr = 0;
    int radioNr = 0;
    for (Channel& ch : data.channels) {
        if (ch.parent < 0 && ch.number == 0)
            ch.number = ch.radio ? ++radioNr : ++tvNr;
    }
    if (data.find(data.startChannel) < 0)
        data.startChannel = data.channels.front().id;
    *out = std::move(data);
    return true;
}

} // namespace boxsim
