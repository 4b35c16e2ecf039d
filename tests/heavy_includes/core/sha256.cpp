#include <openssl/sha.h>
