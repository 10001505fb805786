#include "station_model.h"
