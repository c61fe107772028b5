#include "serial/NamedPorts.h"

namespace {
std::vector<TNamedPort> g_ports;
}

void AddNamedPort(const QString& name, const QString& device)
{
    for (TNamedPort& p : g_ports)
        if (p.Name == name) {
            p.Device = device;
            return;
        }
    g_ports.push_back({name, device});
}

void ClearNamedPorts() { g_ports.clear(); }

const std::vector<TNamedPort>& NamedPorts() { return g_ports; }

QString NamedPortDevice(const QString& name)
{
    for (const TNamedPort& p : g_ports)
        if (p.Name == name)
            return p.Device;
    return {};
}
