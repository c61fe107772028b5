#pragma once
// The serial instruments' own reading paths on the soak: the main window's
// chart on the charge plate monitor, the tera-ohmmeter window's Start and
// the tester window's Start, each against its simulator on a
// pseudo-terminal, with a fault on the line every 1,000 readings.

// Each runs `exchanges` readings and prints its figures; the result is 0
// when no descriptor was lost and every fault was got over.
int SoakCpmChart(long exchanges);
int SoakOhmraWindow(long exchanges);
int SoakGripoWindow(long exchanges);
