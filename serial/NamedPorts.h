#pragma once
#include <QString>
#include <vector>

// Ports offered beside the system's under a plain name, each standing for a
// device path of its own: the simulated instruments of --demo sit on
// pseudo-terminals and are listed as "Karvo (simulated)" and the like.
// Choosing one opens its device like any port.
struct TNamedPort {
    QString Name;
    QString Device;
};

// Adds a port (a name already there gets the new device).
void AddNamedPort(const QString& name, const QString& device);
void ClearNamedPorts();
const std::vector<TNamedPort>& NamedPorts();
// The device of a named port; empty when no port has that name.
QString NamedPortDevice(const QString& name);
