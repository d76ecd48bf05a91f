/* The built module, loaded as the host loads it: dlopen, mcn_main with a
 * service vector, the image information and module records read back
 * field by field, qkvercn1's version record, and the trampoline. Also the
 * engine library through its exported factory. Usage: module_dlopen_test
 * BINDIR (where libzulfact.so and libqkxfac.so are). */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "check.h"
#include "zul/abi.h"

static int failures = 0;

/* A host of the smallest kind: group 0 slot 1 only, to see the
 * trampoline reach it. */
static int pinged = 0;
static void *ping(void *a, void *b, void *c, void *d) {
  (void)b; (void)c; (void)d;
  pinged = 1;
  return a;
}
static zul_fn group0[ZUL_SLOTS_PER_GROUP];
static const zul_fn *groups[ZUL_GROUP_COUNT];
static uint8_t used[ZUL_GROUP_COUNT];
static void *vector[ZUL_SV_WORDS];

static void *open_in(const char *dir, const char *file) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, file);
  void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!h) fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
  return h;
}

static void test_module(const char *dir) {
  void *h = open_in(dir, "libzulfact.so");
  CHECK(h != NULL);
  if (!h) return;
  zul_mcn_main_fn mcn = (zul_mcn_main_fn)dlsym(h, ZUL_MCN_MAIN);
  zul_qkvercn1_fn ver = (zul_qkvercn1_fn)dlsym(h, ZUL_QKVERCN1);
  CHECK(mcn != NULL && ver != NULL);
  /* Only the two entry points are exported (plus nothing of the module's
   * own code). */
  CHECK(dlsym(h, "_ZN7zulfact4hostEv") == NULL);
  if (!mcn || !ver) return;

  group0[1] = (zul_fn)ping;
  groups[0] = group0;
  vector[ZUL_SV_GROUPS] = (void *)groups;
  vector[ZUL_SV_USED] = used;
  zul_host_context context = {sizeof(zul_host_context), 5u, "test"};
  const zul_image_info *image = mcn(vector, &context);
  CHECK(image != NULL);
  if (!image) return;

  /* The record as tabled: tag with its NUL, magic, count, sequence. */
  CHECK(memcmp(image->tag, "ZUL_Image_Information=\0", 23) == 0);
  CHECK(image->tag[23] == 0);
  CHECK(image->magic == 0xB0BDEBEDu);
  CHECK(image->count == 8);
  CHECK(image->release[5] == 0 && image->buildId[19] == 0 && image->buildDate[15] == 0);
  CHECK(strlen(image->buildDate) >= 11); /* "Dec  6 2026" */
  static const uint8_t zeros[8] = {0};
  CHECK(memcmp(image->padding, zeros, 8) == 0 && memcmp(image->terminator, zeros, 8) == 0);
  CHECK(memcmp(image->sequence, "001\0", 4) == 0);
  CHECK(image->notice != NULL && strlen(image->notice) > 0);
  const zul_module_record *m = image->module;
  CHECK(m != NULL && image->moduleCell != NULL && *image->moduleCell == m);
  if (!m) return;
  CHECK(m->zero == 0 && m->ones == 0xFFFF && m->size1 == 1024 && m->size2 == 1024);
  CHECK(memcmp(m->name, "zulfact ", 8) == 0);
  CHECK(m->procedure != NULL);
  CHECK(m->word3 == 3 && m->word9683 == 9683 && m->word2213 == 0x2213A929u && m->word15 == 15);
  CHECK(m->word3b == 3);
  CHECK(m->init && m->init() == 1);
  CHECK(m->terminate && m->terminate() == 1);
  /* The trampoline marks group 0 used and passes the call on to 0/1. */
  used[0] = 0;
  CHECK(m->trampoline && m->trampoline((void *)vector, 0, 0, 0) == (void *)vector);
  CHECK(pinged == 1 && used[0] == 1);

  /* Version record: 208 bytes in the order of its words. */
  unsigned char buffer[208 + 16];
  memset(buffer, 0xAB, sizeof buffer);
  ver(buffer);
  CHECK(buffer[208] == 0xAB); /* nothing past 208 bytes */
  zul_version_record v;
  memcpy(&v, buffer, sizeof v);
  CHECK(v.release && strlen(v.release) > 0);
  CHECK(v.empty1 && strcmp(v.empty1, "") == 0);
  CHECK(v.buildTime > 1500000000u && v.buildTime < 4294967296u); /* a 32-bit count */
  CHECK(v.area1 && strcmp(v.area1, "stat") == 0 && v.area2 && strcmp(v.area2, "stat") == 0);
  CHECK(v.versionWord && strcmp(v.versionWord, "version") == 0);
  CHECK(v.colons && strcmp(v.colons, "::") == 0);
  CHECK(v.empty2 && v.empty2[0] == 0 && v.empty3 && v.empty3[0] == 0);
  CHECK(v.hotfix && strncmp(v.hotfix, "ZUL_VERSION_HOTFIX_NUMBER=", 26) == 0 &&
        strlen(v.hotfix) == 26 + 40);
  CHECK(v.imageDescription &&
        strncmp(v.imageDescription, "VERCON_IMAGE_DESCRIPTION=", 25) == 0 &&
        strlen(v.imageDescription) == 25 + 40);
  CHECK(v.buildDateTime && strstr(v.buildDateTime, "UTC") != NULL);
  for (int i = 0; i < 9; ++i) CHECK(v.zero[i] == 0);
  dlclose(h);
}

static void test_engine(const char *dir) {
  void *h = open_in(dir, "libqkxfac.so");
  CHECK(h != NULL);
  if (!h) return;
  zul_engine_create_fn create = (zul_engine_create_fn)dlsym(h, ZUL_ENGINE_FACTORY);
  CHECK(create != NULL);
  if (!create) return;
  zul_engine_config cfg = {3, -99, 1e-7, 0.001, 1000000, 1, 0.05, 1000, 0, 0, 12345, 0};
  zul_engine *e = create(&cfg);
  CHECK(e != NULL && e->ops != NULL);
  if (!e) return;
  /* A million threads asked for: at least 1, never more than asked. */
  int32_t threads = 0;
  int64_t len = sizeof threads;
  CHECK(e->ops->get(e, ZUL_ITEM_THREADS, &threads, &len, 0, 0) == 0);
  CHECK(len == 4 && threads >= 1 && threads < 1000000);
  /* The data pass's items with their widths: 3 (one double), 14 (nVars
   * doubles), 11 (packed nVars triangle); a wrong width is refused. */
  double n = 50, sd[3] = {1, 2, 3}, r[6] = {1, .5, 1, .25, .125, 1};
  CHECK(e->ops->set(e, ZUL_ITEM_NOBS, &n, 8) == 0);
  CHECK(e->ops->set(e, ZUL_ITEM_STDDEVS, sd, 24) == 0);
  CHECK(e->ops->set(e, ZUL_ITEM_STDDEVS, sd, 16) != 0);
  CHECK(e->ops->set(e, ZUL_ITEM_CORR, r, 48) == 0);
  double back[6] = {0};
  len = sizeof back;
  CHECK(e->ops->get(e, ZUL_ITEM_CORR, back, &len, 0, 0) == 0 && len == 48 && back[3] == .25);
  /* Reset drops the group's items. */
  e->ops->reset(e);
  len = sizeof back;
  CHECK(e->ops->get(e, ZUL_ITEM_CORR, back, &len, 0, 0) != 0);
  /* A rotation: p, m, the pattern; run. An unknown method code ends with
   * status 7; quartimax converges (5) with the pattern and its
   * transformation to read back. */
  int32_t p = 3, m = 2;
  double pattern[6] = {.8, .7, .6, .1, .2, .3};
  CHECK(e->ops->set(e, ZUL_ITEM_NVARS, &p, 4) == 0);
  CHECK(e->ops->set(e, ZUL_ITEM_NFACTORS, &m, 4) == 0);
  CHECK(e->ops->set(e, ZUL_ITEM_PATTERN, pattern, 40) != 0); /* p*m*8 = 48 */
  CHECK(e->ops->set(e, ZUL_ITEM_PATTERN, pattern, 48) == 0);
  zul_rotation_request req;
  memset(&req, 0, sizeof req);
  req.method = 22;
  CHECK(e->ops->run(e, &req) == 0);
  int32_t status = 0;
  len = 4;
  CHECK(e->ops->get(e, ZUL_ITEM_STATUS, &status, &len, 0, 0) == 0 && status == 7);
  req.method = 1;
  req.maxIter = 100;
  req.convergence = 1e-9;
  req.hkPower = zul_missing();
  req.coefficients[3] = 1;
  CHECK(e->ops->run(e, &req) == 0);
  len = 4;
  CHECK(e->ops->get(e, ZUL_ITEM_STATUS, &status, &len, 0, 0) == 0 && status == 5);
  double rotated[6], transform[4];
  len = sizeof rotated;
  CHECK(e->ops->get(e, ZUL_ITEM_ROTATED, rotated, &len, 0, 0) == 0 && len == 48);
  len = sizeof transform;
  CHECK(e->ops->get(e, ZUL_ITEM_TRANSFORM, transform, &len, 0, 0) == 0 && len == 32);
  /* The factor correlations (item 6 read back) are a result of oblique
   * methods only, never the pattern that was set under the same number. */
  len = sizeof back;
  CHECK(e->ops->get(e, ZUL_ITEM_FACTOR_CORR, back, &len, 0, 0) != 0);
  e->ops->destroy(e);
  CHECK(create(NULL) == NULL);
  dlclose(h);
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s BINDIR\n", argv[0]);
    return 2;
  }
  test_module(argv[1]);
  test_engine(argv[1]);
  return failures ? 1 : 0;
}
