#include "transfer/transfer_texts.h"

namespace zel::transfer {

namespace {

const char* const kPersonFilter =
    "and ((not exists (Select Perno from dbo.##TmpTableName)) or (cl.Perno IN (Select Perno "
    "from dbo.##TmpTableName)))";
const char* const kUserFilter =
    "And ((@UserCode = '000') Or (Not Exists (Select * From PerUser Where Code = @UserCode)) Or "
    "(cl.PerNo In (Select PerNo From PerUser Where Code = @UserCode)))";

void Append(TextLines& to, const TextLines& lines) {
  to.insert(to.end(), lines.begin(), lines.end());
}

// One block of the pairing query: the punch with candidate day D, for calendar groups
// (through CalItem) or shift groups (through V_GetCalItem).
TextLines ConfirmIOBlock(const std::string& D, const std::string& status, bool shift_group) {
  TextLines b;
  b.push_back(
      "select Distinct cl.KartNo, cl.Perno, cl.REC, cl.clockDate, cl.ClockTime, cl.IO_TYPE, "
      "cl.SPCARDTYPE, cl.TRANSFERED, cl.MashinNo, cl.ComCode, cl.FPM,");
  b.push_back("cl.PicId, cl.FromWeb, cl.BClockDate, cl.BClockTime,");
  b.push_back(
      "ci.EBEGINDATE as ciEBEGINDATE, ci.EBEGINTIME as ciEBEGINTIME, ci.DBEGINDATE as "
      "ciDBEGINDATE, ci.DBEGINTIME as ciDBEGINTIME, ci.ENDDATE as ciENDDATE, ci.ENDTIME as "
      "ciENDTIME, ci.HOLIDAY as ciHOLIDAY,");
  b.push_back(
      "ios.BEGINDATE as ioBEGINDATE, ios.BEGINTIME as ioBEGINTIME, ios.ENDDate as ioENDDate, "
      "ios.ENDTIME as ioENDTIME, ios.BBEGINTIME as ioBBEGINTIME, ios.BENDDate as ioBENDDate, "
      "ios.BENDTIME as ioBENDTIME,");
  b.push_back(
      "ios.BEGINCLOCK as ioBEGINCLOCK, ios.ENDCLOCK as ioENDCLOCK, ios.BeginComCode as "
      "ioBeginComCode, ios.EndComCode as ioEndComCode, ios.EnterPicId as ioEnterPicId, "
      "ios.ExitPicId as ioExitPicId, ios.EnterFromWeb as ioEnterFromWeb, ios.ExitFromWeb as "
      "ioExitFromWeb,");
  b.push_back(
      "wk.IOPairing as wgIOPairing, wk.LastExitEndDay As wgLastExitEndDay, wk.GROUPTYPE As "
      "wgGROUPTYPE,");
  b.push_back("'" + status + "' as status");
  b.push_back("from ClockDmp cl");
  b.push_back(
      "left outer join #PrjCards as pj on pj.KARTNO = LTRIM(cl.KARTNO) and pj.BEGINDATE <= " + D +
      " and pj.ENDDATE >= " + D);
  b.push_back("left outer join workGrp as wk on wk.CODE = pj.WORKGROUP");
  if (shift_group) {
    b.push_back(
        "left outer join Zel_85..V_GetCalItem AS ci on ci.PerNo = pj.PerNo and "
        "ci.DBEGINDATE = " +
        D);
  } else {
    b.push_back(
        "left outer join Zel_85..CalItem AS ci on ci.CALCODE = wk.CALCODE and "
        "ci.DBEGINDATE = " +
        D);
  }
  b.push_back(
      "left outer join Zel_85..IoInfo as ios on ios.PERNO = cl.PERNO and ios.BEGINDATE >= " + D +
      " and ios.BEGINDATE+ios.BEGINTIME <= isnull(ci.ENDDATE, " + D +
      ")+isnull(ci.ENDTIME,'23:59') and");
  b.push_back(
      " ((cl.IO_TYPE =2 and (ios.ENDDATE ='' or ios.ENDDATE is null) ) or (cl.IO_TYPE =1 and "
      "ios.BEGINDATE+ios.BEGINTIME = ios.ENDDATE+ios.ENDTIME and (ios.EndDATE+ios.EndTIME)> "
      "substring(cl.CLOCKDATE,6,5)+cl.CLOCKTime))");
  b.push_back("where cl.TRANSFERED = 0 and");
  b.push_back("cl.Perno is not null and substring(cl.ClockDate,1,4) = @CurrentYear and");
  b.push_back(
      "substring(cl.ClockDate,6,5) >= @FromDate and substring(cl.ClockDate,6,5) <= @ToDate and");
  b.push_back("(cl.IO_TYPE = '1' or cl.IO_TYPE = '2') and");
  b.push_back(
      "(@perno = '' or ltrim(cl.perno) = ltrim(@Perno) ) and (cl.perno <> ''  and cl.perno is "
      "not null) and");
  b.push_back("(@Rec = 0 or cl.Rec = @Rec ) and");
  b.push_back("cl.Perno >= @FirstPerno and cl.Perno <= @LastPerno and");
  b.push_back("(not @unCertain = 1 or cl.UNCERTAIN = 0 )");
  b.push_back(shift_group ? "And (wk.GROUPTYPE = 6)" : "And (wk.GROUPTYPE <> 6)");
  b.push_back(kPersonFilter);
  b.push_back(kUserFilter);
  return b;
}

// The three computed certainty bits of the special-card query.
TextLines UncertainColumn(const std::string& alias, const std::string& name, bool last) {
  return {"CAST(CASE ",
          "WHEN " + alias + ".UnCertain = 1",
          "AND " + alias + ".Transfered = 0",
          "THEN 1",
          "ELSE 0",
          std::string("END AS BIT) as ") + name + (last ? "," : ",")};
}

std::string Windows(const std::string& alias, const std::string& prefix) {
  std::string s;
  for (const char* c : {"DBEGINDATE", "DBEGINTIME", "DENDDATE", "DENDTIME", "ENDDATE", "ENDTIME",
                        "EBEGINDATE", "EBEGINTIME", "EENDDATE", "EENDTIME", "BBEGINDATE",
                        "BBEGINTIME", "BENDDATE", "BENDTIME", "HOLIDAY"}) {
    s += alias + "." + c + " as " + prefix + c + ", ";
  }
  return s.substr(0, s.size() - 2) + ",";
}

TextLines DemarkBlock(bool shift_group) {
  const std::string g = shift_group ? "= 6" : "<> 6";
  TextLines b;
  b.push_back(
      "select Distinct cl.RowNumber,cl.rec,cl.Perno,cl.ClockDate,cl.ClockTime,cl.Io_Type,"
      "cl.SPCARDTYPE,cl.ClockKey ,cl.SpecCardNo,");
  Append(b, UncertainColumn("cl", "UnCertain", false));
  Append(b, UncertainColumn("cl2", "prUnCertain", false));
  Append(b, UncertainColumn("cl3", "nxUnCertain", true));
  b.push_back(
      "cl2.RowNumber as prRowNumber, cl2.rec as prRec, cl2.ClockDate as prClockDate, "
      "cl2.ClockTime as prClockTime, cl2.SpCardType as prSpCardType,");
  b.push_back(
      "cl3.RowNumber as nxRowNumber, cl3.rec as nxRec, cl3.ClockDate as nxClockDate, "
      "cl3.ClockTime as nxClockTime, cl3.SpCardType as nxSpCardType,");
  b.push_back("wg.FLOATCAL, wg.FLOATVAL, wg.IOPairing, wg.OverFloat, wg.GROUPTYPE,");
  b.push_back(Windows("ci", "ci"));
  b.push_back(Windows("ciyes", "yes"));
  b.push_back(
      "ciyes2.DBEGINDATE as yes2DBEGINDATE, ciyes2.DBEGINTIME as yes2DBEGINTIME, ciyes2.ENDDATE "
      "as yes2ENDDATE, ciyes2.ENDTIME as yes2ENDTIME, ciyes2.HOLIDAY as yes2HOLIDAY, "
      "ciyes2.DENDDATE as yes2DENDDATE, ciyes2.DENDTIME as yes2DENDTIME,");
  b.push_back("ciTom.EBEGINDATE as TomEBEGINDATE, ciTom.EBEGINTIME as TomEBEGINTIME,");
  b.push_back(
      "case when wg.FLOATCAL <> 0 and wg.FLOATVAL is not null and ltrim(rtrim(wg.FLOATVAL)) <> "
      "'' and ltrim(rtrim(wg.FLOATVAL)) > '0' And (cl.SPCardType = 0 Or cl.IO_Type = 2)");
  b.push_back(
      " then case when substring(cl.CLOCKDATE,6,5)+cl.CLOCKTIME > ciyes.EndDate+ciyes.EndTime");
  b.push_back("  then dbo.FirstIO(cl.perno,ciyes.EndDate+ciyes.EndTime,ci.EndDate+ci.EndTime)");
  b.push_back(
      "  else dbo.FirstIO(cl.perno,ciyes2.EndDate+ciyes2.EndTime,ciyes.EndDate+ciyes.EndTime) "
      "end");
  b.push_back(" else NULL end as FirstIo");
  const std::string numbered =
      "(select r.RowNumber,c.* from clockdmp c left outer join #RowNumber r on r.rec =c.REC)";
  b.push_back("from " + numbered + " cl");
  b.push_back("left outer join " + numbered +
              " cl2 on cl2.RowNumber = cl.RowNumber-1 and cl2.perno = cl.perno");
  b.push_back("and cl2.Io_Type <> cl.Io_Type");
  b.push_back("left outer join " + numbered +
              " cl3 on cl3.RowNumber = cl.RowNumber+1 and cl3.perno = cl.perno");
  b.push_back("and cl3.Io_Type <> cl.Io_Type");
  const struct {
    const char* suffix;
    std::string day;
  } days[] = {{"", "substring(cl.CLOCKDATE,6,5)"},
              {"yes", "dbo.decDate(substring(cl.CLOCKDATE,6,5))"},
              {"yes2", "dbo.decDate(dbo.decDate(substring(cl.CLOCKDATE,6,5)))"},
              {"Tom", "dbo.IncDate(SubString(cl.CLOCKDATE,6,5))"}};
  for (const auto& d : days) {
    const std::string pj = std::string("pj") + d.suffix;
    const std::string wg = std::string("wg") + d.suffix;
    const std::string ci = std::string("ci") + d.suffix;
    // The tomorrow work group is tested as a calendar group in both blocks.
    const std::string test = std::string(d.suffix) == "Tom" ? "<> 6" : g;
    b.push_back("left outer join Zel_85..prjrule " + pj + " on " + pj + ".Perno = cl.Perno and " +
                pj + ".BEGINDATE <= " + d.day + " and " + pj + ".ENDDATE >= " + d.day);
    b.push_back("left outer join workGrp " + wg + " on " + wg + ".CODE = " + pj +
                ".WORKGROUP and (" + wg + ".GROUPTYPE " + test + ")");
    if (shift_group) {
      b.push_back("left outer join Zel_85..V_GetCalItem " + ci + " on " + ci + ".PerNo = " + pj +
                  ".PerNo and " + ci + ".GShCode = " + wg + ".GShCode and " + ci +
                  ".DBEGINDATE = " + d.day);
    } else {
      b.push_back("left outer join Zel_85..CalItem " + ci + " on " + ci + ".CALCODE = " + wg +
                  ".CALCODE and " + ci + ".DBEGINDATE = " + d.day);
    }
  }
  b.push_back("where  cl.SPCARDTYPE <> 0 and");
  b.push_back("cl.PERNO <> '' and cl.PERNO is not null and");
  b.push_back(
      "substring(cl.ClockDate,1,4) = @CurrentYear and substring(cl.ClockDate,6,5) >= @FromDate "
      "and substring(cl.ClockDate,6,5) <= @ToDate and");
  b.push_back("(@perno = '' or ltrim(cl.perno) = ltrim(@Perno) ) and");
  b.push_back("(not @unCertain = 1 or cl.UNCERTAIN = 0 )  and");
  b.push_back("(@SPCardType = 0 or cl.SPCARDTYPE = @SPCardType )  and");
  b.push_back("(@Rec = 0 or cl.Rec = @Rec )");
  b.push_back("and (wg.GROUPTYPE " + g + ")");
  b.push_back(kPersonFilter);
  b.push_back(kUserFilter);
  return b;
}

TextLines PunchDeclarations(bool uncertain) {
  TextLines l{
      "Declare @CurrentYear as char(4) , @FromDate as char(5) , @ToDate as char(5) , @Perno as "
      "varchar(10) ,@Rec as int, @UserCode As Char(3)" +
          std::string(uncertain ? ", @UnCertain as bit" : ""),
      "set @CurrentYear = :CurrentYear",
      "set @FromDate = :FromDate",
      "set @ToDate = :ToDate",
      "set @Perno = :Perno",
      "set @Rec = :Rec",
      "Set @UserCode = :UserCode"};
  if (uncertain) l.push_back("set @UnCertain = :UnCertain");
  return l;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
}

}  // namespace

TextLines QConfirmIOText() {
  TextLines q{
      "Declare @CurrentYear as char(4) , @FromDate as char(5) , @ToDate as char(5) ,  @Perno as "
      "varchar(10) ,@UnCertain as bit,@rec as int, @UserCode As char(3), @FirstPerno as "
      "varchar(10), @LastPerno as varchar(10)",
      "set @CurrentYear = :CurrentYear",
      "set @FromDate = :FromDate",
      "set @ToDate = :ToDate",
      "set @Perno = :Perno",
      "set @unCertain = :unCertain",
      "set @Rec = :Rec",
      "Set @UserCode = :UserCode",
      "set @FirstPerno = :FirstPerno",
      "set @LastPerno = :LastPerno"};
  const std::string today = "substring(cl.CLOCKDATE,6,5)";
  const struct {
    std::string day;
    const char* status;
  } days[] = {{today, "bToday"},
              {"dbo.decDate(" + today + ")", "aYesterday"},
              {"dbo.incDate(" + today + ")", "cTomorrow"}};
  bool first = true;
  for (bool shift_group : {false, true}) {
    for (const auto& d : days) {
      if (!first) q.push_back("union all");
      first = false;
      Append(q, ConfirmIOBlock(d.day, d.status, shift_group));
    }
  }
  q.push_back(
      "order by  cl.perNo, cl.ClockDate, cl.ClockTime, ci.DBEGINDATE, Status, iobeginDate, "
      "ioBeginTime");
  return q;
}

TextLines QPrjCardsText() {
  return {
      "Select LTrim(KartNo) As KartNo, PerNo, WorkGroup, BeginDate, EndDate Into #PrjCards "
      "From Zel_85..PrjRule Where KartNo Is Not Null",
      "Insert Into #PrjCards (KartNo, PerNo, WorkGroup, BeginDate, EndDate) Select "
      "LTrim(KartNo2), PerNo, WorkGroup, BeginDate, EndDate From Zel_85..PrjRule Where "
      "KartNo2 Is Not Null",
      "Create Index IX_PrjCards_KartNo On #PrjCards (KartNo, BeginDate)"};
}

TextLines QPermissionDemarkText(bool embedded) {
  TextLines q{
      "Declare @CurrentYear as char(4) , @FromDate as char(5) , @ToDate as char(5) , @Perno as "
      "varchar(10) ,@UNCERTAIN as bit , @SPCardType as char(1) ,@Rec as integer, @UserCode As "
      "Char(3)",
      "set @CurrentYear = :CurrentYear",
      "set @FromDate = :FromDate",
      "set @ToDate = :ToDate",
      "set @Perno = :Perno",
      "set @unCertain = :unCertain",
      "set @SPCardType = :SPCardType",
      "set @Rec = :Rec",
      "Set @UserCode = :UserCode",
      embedded ? "CREATE TABLE #RowNumber (RowNumber int IDENTITY (1, 1),rec int  )"
               : "CREATE TABLE #RowNumber (RowNumber int IDENTITY (1, 1),rec char(9)  )",
      "INSERT #RowNumber (rec)",
      "select top 100 percent rec",
      "FROM ClockDmp cl",
      "where cl.PERNO <> '' and cl.PERNO is not null And SubString(cl.ClockDate, 1, 4) = "
      "@CurrentYear",
      "ORDER BY cl.PERNO , cl.CLOCKDATE , cl.CLOCKTIME"};
  Append(q, DemarkBlock(false));
  q.push_back("Union All");
  Append(q, DemarkBlock(true));
  q.push_back("order by cl.RowNumber");
  q.push_back("DROP TABLE #RowNumber");
  q.push_back("SET NOCOUNT OFF");
  return q;
}

TextLines QClockDmpText() {
  TextLines q = PunchDeclarations(false);
  Append(q, {"select cl.*", "from ClockDmp cl ", "where cl.transfered = 0 and",
             "substring(cl.ClockDate,1,4) = @CurrentYear and",
             "substring(cl.ClockDate,6,5) >= @FromDate and substring(cl.ClockDate,6,5) <= "
             "@ToDate and",
             "(@perno = '' or ltrim(cl.perno) = ltrim(@Perno) ) and",
             "(@Rec = 0 or cl.Rec = @Rec ) ", kPersonFilter, kUserFilter});
  return q;
}

TextLines QClockDmpDeleteText() {
  TextLines q = PunchDeclarations(true);
  Append(q, {"delete from ClockDmp ",
             "where transfered = 0 and perno is not  null and rtrim(ltrim(perno)) <> '' and "
             "(IO_Type=1 or IO_Type=2) and  ",
             "substring(ClockDate,1,4) = @CurrentYear and",
             "substring(ClockDate,6,5) >= @FromDate and substring(ClockDate,6,5) <= @ToDate and",
             "(@perno = '' or ltrim(perno) = ltrim(@Perno) ) and", "(@Rec = 0 or Rec = @Rec ) and",
             "(not @unCertain = 1 or UNCERTAIN = 0 ) and",
             "((not exists (Select Perno from dbo.##TmpTableName)) or (Perno IN (Select Perno "
             "from dbo.##TmpTableName)))",
             "And ((@UserCode = '000') Or (Not Exists (Select * From PerUser Where Code = "
             "@UserCode)) Or (PerNo In (Select PerNo From PerUser Where Code = @UserCode)))"});
  return q;
}

TextLines FunctionDropBatches() {
  TextLines batches;
  for (const char* name : {"DecDate", "IncDate", "FirstIO"}) {
    batches.push_back(std::string(" If Exists (Select * From sysobjects Where id = object_id(N'[") +
                      name + "]') And xtype In (N'FN', N'IF', N'TF')) \nEXECUTE('Drop Function [" +
                      name + "]')");
  }
  return batches;
}

TextLines QFncDecDateText() {
  return {"CREATE FUNCTION decDate (@Date as char(5))  ",
          "RETURNS char(5)",
          "AS",
          "BEGIN",
          "  Declare @Month int, @Day int",
          "  Set @Month = Cast(Substring(@Date, 1, 2) As int)",
          "  Set @Day = Cast(Substring(@Date, 4, 2) As int)",
          "  If @Day = 1",
          "  Begin",
          "    Set @Month = @Month - 1",
          "    If @Month >= 7 Set @Day = 30 Else Set @Day = 31",
          "  End",
          "  Else",
          "    Set @Day = @Day - 1",
          "  Return Right('0' + Cast(@Month As varchar(2)), 2) + '/' + Right('0' + Cast(@Day As "
          "varchar(2)), 2)",
          "END"};
}

TextLines QFncIncDateText() {
  return {"CREATE FUNCTION incDate (@Date as char(5))  ",
          "RETURNS char(5)",
          "AS",
          "BEGIN",
          "  Declare @Month int, @Day int",
          "  Set @Month = Cast(Substring(@Date, 1, 2) As int)",
          "  Set @Day = Cast(Substring(@Date, 4, 2) As int)",
          "  If (@Month > 6 And @Day = 30) Or (@Month <= 6 And @Day = 31)",
          "  Begin",
          "    Set @Month = @Month + 1",
          "    Set @Day = 1",
          "  End",
          "  Else",
          "    Set @Day = @Day + 1",
          "  Return Right('0' + Cast(@Month As varchar(2)), 2) + '/' + Right('0' + Cast(@Day As "
          "varchar(2)), 2)",
          "END"};
}

TextLines QFncFirstIOText() {
  return {
      "CREATE FUNCTION dbo.FirstIO (@Perno char(10) , @minDateTime char(10) , @maxDateTime "
      "char(10)  )  ",
      "RETURNS char(10)",
      "AS",
      "BEGIN",
      "  Declare @Result char(10)",
      "  Select @Result = Min(BeginDateTime)",
      "  From (Select substring(ClockDate,6,5)+ClockTime As BeginDateTime",
      "        From ClockDmp",
      "        Where (Perno = @Perno) And (io_type = 1) And (SPCardType = 0)",
      "        Union All",
      "        Select BeginDate+BeginTime As BeginDateTime",
      "        From Zel_85..IoInfo",
      "        Where Perno = @Perno) As IOs",
      "  Where BeginDateTime >= @minDateTime  and BeginDateTime <= @maxDateTime",
      "  Return @Result",
      "END"};
}

TextLines QUpdateTablesText() {
  return {"AlTER TABLE dbo.TmpMOR ADD Rec1 int NULL,Rec2 int NULL ",
          "ALTER TABLE dbo.TmpMam ADD Rec1 int NULL,Rec2 int NULL ",
          "ALTER TABLE dbo.TmpSlate ADD Rec1 int NULL,Rec2 int NULL ",
          "ALTER TABLE dbo.TmpSlate ADD INDECISIVE tinyint Null ",
          "ALTER TABLE dbo.Servlate ADD INDECISIVE tinyint Null "};
}

TextLines ReplacePlaceholders(TextLines lines, const std::string& DataBaseName,
                              const std::string& cnCurrentYear, const std::string& TempFileName) {
  for (std::string& line : lines) {
    ReplaceAll(line, "Zel_85..", DataBaseName + "_" + cnCurrentYear + "..");
    ReplaceAll(line, "Zel..", DataBaseName + "..");
    ReplaceAll(line, "##TmpTableName", TempFileName);
  }
  return lines;
}

}  // namespace zel::transfer
