#include <openssl/evp.h>
