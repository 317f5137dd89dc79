#include "show/CueStore.h"

namespace orvex {

CQSheet* CueStore::Sheet(int ch) {
  return ch >= 0 && ch < kSheetCount ? &m_sheets[static_cast<size_t>(ch)] : nullptr;
}
const CQSheet* CueStore::Sheet(int ch) const {
  return ch >= 0 && ch < kSheetCount ? &m_sheets[static_cast<size_t>(ch)] : nullptr;
}
int CueStore::GetCount(int ch) const {
  const CQSheet* s = Sheet(ch);
  return s ? s->GetCount() : 0;
}
const CRecord* CueStore::Find(int ch, int i) const {
  const CQSheet* s = Sheet(ch);
  return s ? s->Find(i) : nullptr;
}

double CueStore::GetQNumber(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r ? r->qNumber : 0;
}
double CueStore::GetPre(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r ? r->preLevel : 0;
}
double CueStore::GetFadeIn(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r ? r->fadeIn : 0;
}
double CueStore::GetFadeOut(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r ? r->fadeOut : 0;
}
std::string CueStore::GetTitle(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r ? r->title : std::string();
}
std::string CueStore::GetFile(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r ? r->fileOrCommand : std::string();
}
std::string CueStore::GetDescription(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r ? r->description : std::string();
}
bool CueStore::IsInSequence(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r ? r->inSequence : true;
}
double CueStore::GetMaxQNumber(int ch) const {
  double maxQ = 0;
  for (int i = 1; i <= GetCount(ch); ++i) {
    double q = Find(ch, i)->qNumber;
    if (i == 1 || q > maxQ) maxQ = q;
  }
  return maxQ;
}

CueCommand CueStore::CommandOf(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r ? CueCommandOf(r->fileOrCommand) : CueCommand::kNone;
}
bool CueStore::IsCommand(int ch, int i) const {
  const CRecord* r = Find(ch, i);
  return r && IsCommandWord(r->fileOrCommand);
}

std::string ResolveWavPath(const std::string& soundFolder, const std::string& file) {
  bool absolute = (!file.empty() && file.find(':', 1) != std::string::npos) ||
                  (!file.empty() && file.front() == '/');
  if (absolute || soundFolder.empty()) return file;
  return soundFolder + "\\" + file;
}

std::string CueStore::GetWavPath(int ch, int i) const {
  return ResolveWavPath(m_soundFolder, GetFile(ch, i));
}

bool CueStore::AddRecord(int ch, const RecordValues& v) {
  CQSheet* s = Sheet(ch);
  if (!s) return false;
  s->Add(v);
  return true;
}
void CueStore::SetRecord(int ch, int i, const RecordValues& v) {
  if (CQSheet* s = Sheet(ch)) {
    s->Set(i, v);
    s->MoveSmallerToFront();
  }
}
void CueStore::SetRecordBasic(int ch, int i, const std::string& title,
                              const std::string& fileOrCommand, const std::string& description,
                              double qNumber, double preLevel, double fadeIn, double fadeOut) {
  if (CQSheet* s = Sheet(ch)) {
    s->SetBasic(i, title, fileOrCommand, description, qNumber, preLevel, fadeIn, fadeOut);
    s->MoveSmallerToFront();
  }
}
ChannelData CueStore::GetChannelData(int ch, int i) const {
  const CQSheet* s = Sheet(ch);
  return s ? s->GetChannelData(i) : ChannelData{};
}
void CueStore::SetChannelData(int ch, int i, const ChannelData& data) {
  if (CQSheet* s = Sheet(ch)) s->SetChannelData(i, data);
}
void CueStore::MoveSmallerToFront(int ch) {
  if (CQSheet* s = Sheet(ch)) s->MoveSmallerToFront();
}
void CueStore::ClearCueStore() {
  for (int ch = kFirstChannel; ch <= kLastChannel; ++ch)
    m_sheets[static_cast<size_t>(ch)].RemoveAll();
}

}  // namespace orvex
