#pragma once
#include <QString>

// The user's long time format without its time-zone field: the chart's
// title and the measurement files have never carried a zone, and Qt's long
// format adds one.
QString LongTimeFormatWithoutZone();
