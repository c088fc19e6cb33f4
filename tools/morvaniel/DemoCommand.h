#pragma once

class QTextStream;

// Prints the settings of the application folder and the news of the bundled
// sample remote information.
int runDemo(QTextStream &out);
