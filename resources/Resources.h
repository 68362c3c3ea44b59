#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

// A named resource that the program does not carry. The message reads
// "Resource <name> not found".
class ResourceNotFound : public std::runtime_error
{
public:
    explicit ResourceNotFound(const QString &name);
};

// The pictures, pages and animation compiled into the program, found by name
// without regard to case: "Btscan_over" finds BTSCAN_OVER.
namespace Resources {

// The bytes of a resource; throws ResourceNotFound when there is none.
QByteArray data(const QString &name);
bool contains(const QString &name);

// Lets a test add or replace a resource for the rest of the process (for
// instance an undecodable picture); an empty QByteArray removes it again.
void registerForTest(const QString &name, const QByteArray &bytes);

} // namespace Resources
