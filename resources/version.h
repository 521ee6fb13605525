/* The program's name and version, read by both the resource compiler and
   the C++ core, so the usage screen and the version record cannot drift
   apart. Plain #defines only: windres's preprocessor sees this file too. */
#ifndef TARNWICK_RESOURCES_VERSION_H
#define TARNWICK_RESOURCES_VERSION_H

#define TARNWICK_PRODUCT_NAME "Velmora"
#define TARNWICK_PRODUCT_VERSION "1.00"
#define TARNWICK_FILE_VERSION "1.00"
#define TARNWICK_VERSION_NUMBERS 1, 0, 0, 0

#define TARNWICK_COMPANY_NAME "Velmora contributors"
#define TARNWICK_DESCRIPTION "Displays or changes the comment for the Server service."
#define TARNWICK_COPYRIGHT "Copyright (C) Velmora contributors"
#define TARNWICK_INTERNAL_NAME "Tarnwick"
#define TARNWICK_ORIGINAL_FILENAME "Tarnwick.exe"

#endif
