#include "TDeviceEventSource.h"

TDeviceEventSource::~TDeviceEventSource() = default;
