// Module entry: the exported entry points, the image information, module
// and version records, the procedure run and the clean-up handler.
#include "zulfact/entry/entry.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "zulfact/state/catalog_ids.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/entry/by_sync.hpp"
#include "zulfact/entry/c_boundary.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/host/messages.hpp"
#include "zulfact/state/proc_state.hpp"
#include "zulfact/extract/driver.hpp"
#include "zulfact/options/parse_statement.hpp"
#include "zulfact/options/seed.hpp"
#include "zulfact/output/factor_scores.hpp"
#include "zulfact/output/outstat_rows.hpp"

namespace zulfact {

namespace {

constexpr uint32_t kWorkFileFlags = 0x84000008u;

// The processor-feature word handed over by the host (zul_host_context).
uint32_t g_processorFeatures = 0;

// The host calls these through the module record; neither can throw.
int32_t moduleInit() noexcept { return 1; }
int32_t moduleTerminate() noexcept { return 1; }

// Sets the host's used byte of group 0 and passes the call on to service
// 0/1, the host routine the image's trampoline stands for.
void* hostTrampoline(void* a, void* b, void* c, void* d) {
  void** sv = host().serviceVector();
  if (!sv) return nullptr;
  auto f = reinterpret_cast<zul_trampoline_fn>(zul_service(sv, 0, 1));
  return f ? f(a, b, c, d) : nullptr;
}

zul_module_record g_module = {
    0,      0xFFFF, 1024, 1024, {'z', 'u', 'l', 'f', 'a', 'c', 't', ' '},
    &procedureEntry,
    3,      9683,   0x2213A929u, 15,
    &moduleInit, &hostTrampoline, &moduleTerminate,
    3};

zul_module_record* const g_moduleCell = &g_module;

const char kNotice[] = "zul factor: exploratory factor analysis and principal components";

zul_image_info makeImage() {
  zul_image_info image;
  std::memset(&image, 0, sizeof image);
  std::memcpy(image.tag, ZUL_IMAGE_TAG, sizeof ZUL_IMAGE_TAG);  // with its NUL
  image.magic = ZUL_IMAGE_MAGIC;
  image.count = ZUL_IMAGE_COUNT;
  std::strncpy(image.release, "0.1", sizeof image.release - 1);
  std::strncpy(image.buildId, "0.1.0 " __DATE__, sizeof image.buildId - 1);
  std::strncpy(image.buildDate, __DATE__, sizeof image.buildDate - 1);
  image.moduleCell = &g_moduleCell;
  image.notice = kNotice;
  std::memcpy(image.sequence, ZUL_IMAGE_SEQUENCE, sizeof ZUL_IMAGE_SEQUENCE);
  image.module = &g_module;
  return image;
}

const zul_image_info g_image = makeImage();

// Patchable texts of the version record: a marker followed by 40 blanks
// that a release tool may overwrite in the binary.
char g_hotfix[] = "ZUL_VERSION_HOTFIX_NUMBER=                                        ";
char g_imageDescription[] = "VERCON_IMAGE_DESCRIPTION=                                        ";

// The compiler's build stamp (__DATE__ "Dec  6 2026", __TIME__ "10:00:00")
// as seconds since 1970 and as "Sun Dec  6 10:00:00 UTC 2026".
std::tm buildStamp() {
  static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const char* date = __DATE__;
  std::tm t{};
  t.tm_mon = static_cast<int>((std::strstr(months, std::string(date, 3).c_str()) - months) / 3);
  t.tm_mday = std::atoi(date + 4);
  t.tm_year = std::atoi(date + 7) - 1900;
  t.tm_hour = std::atoi(__TIME__);
  t.tm_min = std::atoi(__TIME__ + 3);
  t.tm_sec = std::atoi(__TIME__ + 6);
  time_t seconds = timegm(&t);
  std::tm out{};
  gmtime_r(&seconds, &out);
  return out;
}

char g_buildDateTime[40];

zul_version_record makeVersion() {
  zul_version_record v;
  std::memset(&v, 0, sizeof v);
  v.release = "0.1";
  v.buildPath = "src/zulfact";
  v.empty1 = "";
  std::tm stamp = buildStamp();
  v.buildTime = static_cast<uint32_t>(timegm(&stamp));
  std::strftime(g_buildDateTime, sizeof g_buildDateTime, "%a %b %e %H:%M:%S UTC %Y", &stamp);
  v.area1 = "stat";
  v.platform = "linux-x86_64";
  v.area2 = "stat";
  v.buildId = "zulfact-0.1.0";
  v.empty2 = "";
  v.versionWord = "version";
  v.colons = "::";
  v.empty3 = "";
  v.hotfix = g_hotfix;
  v.platformCompiler = "linux-x86_64-gcc";
  v.imageDescription = g_imageDescription;
  v.platformCode = "lax";
  v.buildDateTime = g_buildDateTime;
  return v;
}

const zul_version_record g_version = makeVersion();

}  // namespace

uint32_t processorFeatures() { return g_processorFeatures; }
const zul_image_info* imageInformation() { return &g_image; }

namespace {

// The step from start-up to its end (never returns normally: every way
// out ends the step through Host::endStep, caught by guardStep).
void runProcedure(StepRecord& record) {
  Host& h = host();
  ProcState& ps = record;  // the options are the parser's to write

  // Start-up: the debug block with the SYN and SEM switches (the parser
  // reads them back through debugSwitches()).
  startUp(h);

  // The clean-up handler finds ProcState through a host slot.
  void** cell = h.terminationCell();
  if (cell) *cell = &ps;
  h.registerTermination(&cleanupHandler, cell);

  // The work file that keeps the per-group matrices.
  ps.workFile.flags = kWorkFileFlags;
  int st = h.workOpen(ps.workFile);
  if (st == 0) st = h.workPosition(ps.workFile, 0);
  if (st != 0) {
    h.statusReport(st);
    ps.completionCode = kCodeWorkFile;
    h.endStep(kCodeWorkFile, 0);
  }

  // The statement; the parser ends the step itself above 999.
  parseStatement(record);
  releaseGroupRows(ps, false);  // nothing held from a step that was stopped

  // One analysis per BY group.
  ps.maxFactorsRetained = 0;
  for (;;) {
    zul_table* input = ps.opt.indbInput ? ps.opt.indbInput : ps.opt.mainInput;
    int next = h.nextByGroup(input);
    if (next < 0 && input) {
      // A read error (a table not sorted by its BY variables, a broken
      // line): the host has said why. The groups that were analysed stand,
      // but the step must not look as if it had read everything.
      raiseCode(ps, kCodeBadVariables);
    }
    if (next < 1) break;
    ps.groupRowsCopied = false;
    if (zbysync(ps, input, ps.opt.targetTable, ps.opt.bySyncMode) == 0) {
      auto* engine = static_cast<zul_engine*>(ps.factorEngine);
      if (engine && engine->ops && engine->ops->reset) engine->ops->reset(engine);
      ps.screeDone = false;
      ps.plotNotesGiven = false;
      ps.graphNotesGiven = false;
      // A group that ends without a solution leaves no OUTSTAT= rows.
      holdGroupRows();
      analysisDriver(ps);
      releaseGroupRows(ps, ps.factorsRetained >= 0);
    }
    copyUnscoredGroup(ps);
    ps.maxFactorsRetained = std::max(ps.maxFactorsRetained, ps.factorsRetained);
  }

  markUnscoredOutput(ps);

  // Closing note of in-database processing.
  if (ps.indb.used) {
    uint32_t id = ps.opt.nBy > 0 ? catalog::kIndbRowsWrittenOverGroups : catalog::kIndbRowsWritten;
    // A note that cannot be written is reported by the catalog itself;
    // the results of the step stand.
    (void)h.catalogNote(id, {ps.indb.rowsInserted, std::string_view(ps.indb.tableName)});
  }

  // The work file goes.
  st = h.workClose(ps.workFile, 1);
  if (st != 0) {
    h.statusReport(st);
    ps.completionCode = kCodeWorkFile;
    h.endStep(kCodeWorkFile, ps.maxFactorsRetained);
  }

  // Warnings are not failures.
  if (ps.completionCode <= kCodeWarning) ps.completionCode = 0;

  // The state of the random generator, for the next step to go on from.
  seedRoutine(SeedMode::PublishEnd, ps.seed);

  h.endStep(ps.completionCode, ps.maxFactorsRetained);
}

void cleanUp(ProcState* ps);

}  // namespace

// The host calls this through the module record: the C boundary of a step.
// ProcState lives here, so that the clean-up handler can still read it
// when a fault ends the step (guardStep).
int32_t procedureEntry() {
  StepRecord record;  // zeroed, the work-file descriptor too
  return guardStep(record, [&] { runProcedure(record); });
}

void cleanupHandler() {
  void** cell = host().terminationCell();
  if (!cell || !*cell) return;
  auto* ps = static_cast<ProcState*>(*cell);
  *cell = nullptr;
  guardCleanup([&] { cleanUp(ps); });
}

namespace {

void cleanUp(ProcState* ps) {
  Host& h = host();
  if (ps->sink) {
    // Publishes what is still open and closes every section.
    zul_attr how;
    std::memset(&how, 0, sizeof how);
    how.number = ZUL_SA_CLOSE_HOW;
    how.kind = ZUL_SK_INTEGER;
    how.value.i = 4;
    h.sinkDispatch(ps->sink, ZUL_OP_CLOSE, 1, &how);
  }
  if (auto* engine = static_cast<zul_engine*>(ps->factorEngine)) {
    if (engine->ops && engine->ops->destroy) engine->ops->destroy(engine);
    ps->factorEngine = nullptr;
  }
  if (ps->engineExtension) {
    const zul_toolkit* tk = h.toolkit();
    if (tk && tk->releaseExtension)
      tk->releaseExtension(static_cast<zul_extension*>(ps->engineExtension));
    ps->engineExtension = nullptr;
  }
}

}  // namespace

}  // namespace zulfact

// ---- exported entry points ----

// Neither entry below can throw: they copy and attach, nothing more.
extern "C" ZUL_EXPORT const zul_image_info* mcn_main(void** serviceVector,
                                                     void* hostContext) noexcept {
  zulfact::host().attach(serviceVector, hostContext);
  auto* context = static_cast<const zul_host_context*>(hostContext);
  if (context && context->size >= sizeof(zul_host_context))
    zulfact::g_processorFeatures = context->processorFeatures;
  return &zulfact::g_image;
}

extern "C" ZUL_EXPORT void qkvercn1(void* buffer) noexcept {
  if (buffer) std::memcpy(buffer, &zulfact::g_version, sizeof zulfact::g_version);
}
