#include "infoobject.h"

#include <cs101_information_objects.h>

InfoObject::InfoObject(InformationObject io, int asduTypeId)
    : address(io ? InformationObject_getObjectAddress(io) : 0), typeId(asduTypeId)
{}
