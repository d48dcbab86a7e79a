#include "infoobject.h"

#include <cs101_information_objects.h>

namespace iec101 {

InfoObject::InfoObject(InformationObject io, int asduTypeId)
    : address(io ? InformationObject_getObjectAddress(io) : 0), typeId(asduTypeId)
{}

} // namespace iec101
