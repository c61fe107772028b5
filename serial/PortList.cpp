// The list of serial ports comes from libserialport; it is used for nothing
// else (the port itself is driven through termios, see SerialDevice.cpp).
#include "serial/ComPort.h"

#include <libserialport.h>

void TCustomComPort::EnumComDevicesFromRegistry(QStringList& list)
{
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
