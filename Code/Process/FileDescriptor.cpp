#include "Process/FileDescriptor.h"

#include <unistd.h>

namespace process {

FileDescriptor::~FileDescriptor()
{
    if (mDescriptor >= 0)
        ::close(mDescriptor);
}

} // namespace process
