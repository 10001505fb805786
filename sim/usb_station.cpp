#include "usb_station.h"
