// What the token benchmarks agree on: the token's PIN and the labels of the objects that
// p11floor setup creates and every way of measuring finds again.
#pragma once

#define BENCH_USER_PIN "1234"
#define BENCH_AES_LABEL "bench-aes"
#define BENCH_RSA_LABEL "bench-rsa"
#define BENCH_FIND_LABEL "bench-find"
#define BENCH_FIND_COUNT 100
#define BENCH_SIGN_DATA_LENGTH 64
