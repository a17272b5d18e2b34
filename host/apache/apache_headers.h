// Apache httpd's and APR's headers, as mod_tavik's files include them.
#ifndef TAVIK_HOST_APACHE_APACHE_HEADERS_H_
#define TAVIK_HOST_APACHE_APACHE_HEADERS_H_

// httpd.h first: the others use its types.
#include <httpd.h>
// clang-format off
#include <apr_buckets.h>
#include <apr_strings.h>
#include <apr_tables.h>
#include <http_config.h>
#include <http_core.h>
#include <http_log.h>
#include <http_protocol.h>
#include <http_request.h>
// clang-format on

#endif  // TAVIK_HOST_APACHE_APACHE_HEADERS_H_
