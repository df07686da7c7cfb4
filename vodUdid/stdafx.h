#ifndef VODUDID_STDAFX_H
#define VODUDID_STDAFX_H
#include "xcomplier_def.h"
#endif
