// The list of serial ports comes from libserialport; it is used for nothing
// else (the port itself is driven through termios, see SerialDevice.cpp),
// so it is opened when a list is first wanted, not at start-up.
#include "serial/ComPort.h"

#include "platform/LazyLibrary.h"

#include <libserialport.h>

namespace {

TLazyLibrary g_libserialport("libserialport.so.0");

} // namespace

void TCustomComPort::EnumComDevicesFromRegistry(QStringList& list)
{
    static auto* const sp_list_ports = g_libserialport.Function<decltype(::sp_list_ports)>("sp_list_ports");
    static auto* const sp_get_port_name = g_libserialport.Function<decltype(::sp_get_port_name)>("sp_get_port_name");
    static auto* const sp_free_port_list = g_libserialport.Function<decltype(::sp_free_port_list)>("sp_free_port_list");
    // Without the library there is no list; a port can still be typed in.
    if (!sp_list_ports || !sp_get_port_name || !sp_free_port_list)
        return;
    sp_port** ports = nullptr;
    if (sp_list_ports(&ports) != SP_OK || !ports)
        return;
    static const QString prefix = QStringLiteral("/dev/");
    for (sp_port** p = ports; *p; ++p) {
        const char* name = sp_get_port_name(*p);
        if (!name || !*name)
            continue;
        QString s = QString::fromLocal8Bit(name);
        if (s.startsWith(prefix))
            s = s.mid(prefix.size());
        list.append(s);
    }
    sp_free_port_list(ports);
}
