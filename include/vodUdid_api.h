/*
 * vodUdid_api.h - the export mark of libvodUdid.so, in one place.
 *
 * The library is built with hidden visibility: only what carries VODUDID_API
 * is exported. vodUdid.h and BCString.h both include this header, so a host
 * may include either or both in any order; it is plain C as well as C++.
 */
#ifndef VODUDID_API_H
#define VODUDID_API_H

#define VODUDID_API __attribute__((visibility("default")))

#endif /* VODUDID_API_H */
