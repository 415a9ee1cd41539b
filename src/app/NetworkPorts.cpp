#include "app/NetworkPorts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>

namespace kelm {

namespace {

const QString kGroup = QStringLiteral("NetworkPorts");
const QString kKey = QStringLiteral("port");

QString Tr(const char* text) {
    return QCoreApplication::translate("kelm::NetworkPorts", text);
}

}  // namespace

net::NetKind NetworkKindAt(int index) {
    switch (index) {
        case 1:
            return net::NetKind::Rfc2217;
        case 2:
            return net::NetKind::ModbusTcp;
        default:
            return net::NetKind::Tcp;
    }
}

int NetworkKindIndex(net::NetKind kind) {
    switch (kind) {
        case net::NetKind::Tcp:
            return 0;
        case net::NetKind::Rfc2217:
            return 1;
        case net::NetKind::ModbusTcp:
            return 2;
    }
    return 0;
}

QString NetworkPortText(const net::NetAddress& a) {
    const char* kind = "TCP";
    if (a.kind == net::NetKind::Rfc2217) kind = "RFC2217";
    if (a.kind == net::NetKind::ModbusTcp) kind = "MBTCP";
    const QString host = QString::fromStdString(a.host);
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1 %2:%3").arg(QLatin1String(kind), shown).arg(a.port);
}

std::optional<net::NetAddress> NetworkPortFromFields(int kindIndex, const QString& hostText,
                                                     const QString& portText, QString* error) {
    auto fail = [error](const QString& text) {
        if (error) *error = text;
        return std::nullopt;
    };
    if (kindIndex < 0 || kindIndex >= kNetworkKindCount)
        return fail(Tr(QT_TRANSLATE_NOOP("kelm::NetworkPorts", "请选择端口类型。")));
    QString host = hostText.trimmed();
    const QString port = portText.trimmed();
    if (host.isEmpty())
        return fail(Tr(QT_TRANSLATE_NOOP("kelm::NetworkPorts", "请输入主机名或IP地址。")));
    bool ok = false;
    const uint number = port.toUInt(&ok);
    // Digits only: toUInt would take "+12" or " 12".
    const bool digits = !port.isEmpty() &&
                        std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); });
    if (!digits || !ok || number < 1 || number > 65535)
        return fail(
            Tr(QT_TRANSLATE_NOOP("kelm::NetworkPorts", "端口号必须是1到65535之间的数字。")));
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QStringLiteral("[%1]").arg(host);
    const std::string name = std::string(net::SchemeName(NetworkKindAt(kindIndex))) + "://" +
                             host.toStdString() + ":" + port.toStdString();
    std::string why;
    auto address = net::ParseNetAddress(name, &why);
    if (!address)
        return fail(Tr(QT_TRANSLATE_NOOP("kelm::NetworkPorts", "主机地址无效：%1"))
                        .arg(QString::fromStdString(why)));
    return address;
}

QString NetworkPortEntry::PortName() const {
    return QString::fromStdString(net::FormatNetAddress(address));
}

std::uint16_t NextNetworkPortNumber(const std::vector<NetworkPortEntry>& ports) {
    for (unsigned n = kNetworkPortFirstNumber; n <= 0xFFFF; ++n) {
        const bool used = std::any_of(ports.begin(), ports.end(),
                                      [n](const NetworkPortEntry& e) { return e.number == n; });
        if (!used) return static_cast<std::uint16_t>(n);
    }
    return 0;
}

QString NetworkPortSettings::FilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rule: a relative path is to be ignored.
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + "/.config";
    return base + QStringLiteral("/kelm/kelm-utility.ini");
}

std::vector<NetworkPortEntry> NetworkPortSettings::Load() {
    std::vector<NetworkPortEntry> out;
    QSettings s(FilePath(), QSettings::IniFormat);
    const int n = s.beginReadArray(kGroup);
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        const std::string name = s.value(kKey).toString().toStdString();
        auto address = net::ParseNetAddress(name);
        if (!address) continue;
        const bool repeated = std::any_of(out.begin(), out.end(), [&](const NetworkPortEntry& e) {
            return e.address == *address;
        });
        if (repeated) continue;
        NetworkPortEntry e;
        e.address = *address;
        e.number = NextNetworkPortNumber(out);
        if (e.number == 0) break;
        out.push_back(std::move(e));
    }
    s.endArray();
    return out;
}

bool NetworkPortSettings::Save(const std::vector<NetworkPortEntry>& ports, QString* error) {
    const QString path = FilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = Tr(QT_TRANSLATE_NOOP("kelm::NetworkPorts", "无法创建目录 %1"))
                         .arg(QFileInfo(path).absolutePath());
        return false;
    }
    QSettings s(path, QSettings::IniFormat);
    s.remove(kGroup);
    s.beginWriteArray(kGroup, static_cast<int>(ports.size()));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        s.setArrayIndex(static_cast<int>(i));
        s.setValue(kKey, ports[i].PortName());
    }
    s.endArray();
    s.sync();
    if (s.status() != QSettings::NoError) {
        if (error) *error = Tr(QT_TRANSLATE_NOOP("kelm::NetworkPorts", "无法写入 %1")).arg(path);
        return false;
    }
    return true;
}

}  // namespace kelm
