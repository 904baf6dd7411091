-- The view V_GetCalItem of the year database Att_1399, created the way the service does
-- at start (on a server-level connection): USE, drop when it exists, USE, CREATE VIEW.
-- It calls the base database's IncDate, so transfer_functions.sql must run first.
 USE [Att_1399] 
GO
IF EXISTS(SELECT * FROM sys.views WHERE name = 'V_GetCalItem')
 DROP VIEW [dbo].[V_GetCalItem] 
GO
 USE [Att_1399] 
GO
 CREATE VIEW [dbo].[V_GetCalItem] 
 AS 
 Select DistributedGshItem.PerNo, DistributedGshItem.GShCode AS GshCode, DistributedGshItem.Period,
 Substring(DayNo, 2,3) AS DayNo,
 Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2) AS EBeginDate, WS.EBEGINTIME,
 DistributedGshItem.WorkShiftCode,
 Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2) AS DBeginDate, WS.DBEGINTIME,
 (Case When Substring(WS.ShiftStatus, 1, 1) = '1' Then Att.dbo.IncDate(Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2)) Else Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2) End) AS BBeginDate, WS.BBEGINTIME,
 (Case When Substring(WS.ShiftStatus, 2, 1) = '1' Then Att.dbo.IncDate(Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2)) Else Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2) End) AS BEndDate, WS.BENDTIME,
 (Case When Substring(WS.ShiftStatus, 3, 1) = '1' Then Att.dbo.IncDate(Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2)) Else Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2) End) AS DEndDate, WS.DENDTIME,
 (Case When Substring(WS.ShiftStatus, 4, 1) = '1' Then Att.dbo.IncDate(Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2)) Else Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2) End) AS EEndDate, WS.EENDTIME,
 (Case When Substring(WS.ShiftStatus, 5, 1) = '1' Then Att.dbo.IncDate(Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2)) Else Right('0' + Cast(DistributedGshItem.Period As varchar(2)), 2) + '/' + Right('0' + Substring(DistributedGshItem.DayNo, 2, 3), 2) End) AS EndDate, WS.ENDTIME,
 WS.Holiday
 From (Select P.PerNo, P.GShCode, P.Period,
 (Case when P.D1 is NULL then G.D1 else P.D1 end) AS D1,
 (Case when P.D2 is NULL then G.D2 else P.D2 end) AS D2,
 (Case when P.D3 is NULL then G.D3 else P.D3 end) AS D3,
 (Case when P.D4 is NULL then G.D4 else P.D4 end) AS D4,
 (Case when P.D5 is NULL then G.D5 else P.D5 end) AS D5,
 (Case when P.D6 is NULL then G.D6 else P.D6 end) AS D6,
 (Case when P.D7 is NULL then G.D7 else P.D7 end) AS D7,
 (Case when P.D8 is NULL then G.D8 else P.D8 end) AS D8,
 (Case when P.D9 is NULL then G.D9 else P.D9 end) AS D9,
 (Case when P.D10 is NULL then G.D10 else P.D10 end) AS D10,
 (Case when P.D11 is NULL then G.D11 else P.D11 end) AS D11,
 (Case when P.D12 is NULL then G.D12 else P.D12 end) AS D12,
 (Case when P.D13 is NULL then G.D13 else P.D13 end) AS D13,
 (Case when P.D14 is NULL then G.D14 else P.D14 end) AS D14,
 (Case when P.D15 is NULL then G.D15 else P.D15 end) AS D15,
 (Case when P.D16 is NULL then G.D16 else P.D16 end) AS D16,
 (Case when P.D17 is NULL then G.D17 else P.D17 end) AS D17,
 (Case when P.D18 is NULL then G.D18 else P.D18 end) AS D18,
 (Case when P.D19 is NULL then G.D19 else P.D19 end) AS D19,
 (Case when P.D20 is NULL then G.D20 else P.D20 end) AS D20,
 (Case when P.D21 is NULL then G.D21 else P.D21 end) AS D21,
 (Case when P.D22 is NULL then G.D22 else P.D22 end) AS D22,
 (Case when P.D23 is NULL then G.D23 else P.D23 end) AS D23,
 (Case when P.D24 is NULL then G.D24 else P.D24 end) AS D24,
 (Case when P.D25 is NULL then G.D25 else P.D25 end) AS D25,
 (Case when P.D26 is NULL then G.D26 else P.D26 end) AS D26,
 (Case when P.D27 is NULL then G.D27 else P.D27 end) AS D27,
 (Case when P.D28 is NULL then G.D28 else P.D28 end) AS D28,
 (Case when P.D29 is NULL then G.D29 else P.D29 end) AS D29,
 (Case when P.D30 is NULL then G.D30 else P.D30 end) AS D30,
 (Case when P.D31 is NULL then G.D31 else P.D31 end) AS D31
 From GshItem G Left Outer Join PerShifts P On G.GShCode=P.GShCode and G.Period=P.Period) AS ShiftDays
 UNPIVOT (WorkShiftCode For DayNo In (D1, D2, D3, D4, D5, D6, D7, D8, D9, D10, D11, D12, D13, D14, D15, D16, D17, D18, D19, D20, D21, D22, D23, D24, D25, D26, D27, D28, D29, D30, D31)) AS DistributedGshItem
 Left Outer Join Att.dbo.WorkShifts As WS on DistributedGshItem.WorkShiftCode = WS.Code
 Left Outer Join Att.dbo.WorkGrp AS WG On Wg.GShCode = DistributedGshItem.GShCode
 Left Outer Join PrjRule As R On R.WORKGROUP = WG.CODE
 Where R.PERNO <> '' And WG.GROUPTYPE = 6 And R.PerNo = DistributedGshItem.PerNo
GO
