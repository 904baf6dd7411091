-- The database functions decDate, incDate and FirstIO of the base database Att, dropped
-- when they exist and created again, as the transfer module does at every start (its
-- year placeholder already replaced by Att_1399).
 If Exists (Select * From sysobjects Where id = object_id(N'[DecDate]') And xtype In (N'FN', N'IF', N'TF')) 
EXECUTE('Drop Function [DecDate]')
GO
 If Exists (Select * From sysobjects Where id = object_id(N'[IncDate]') And xtype In (N'FN', N'IF', N'TF')) 
EXECUTE('Drop Function [IncDate]')
GO
 If Exists (Select * From sysobjects Where id = object_id(N'[FirstIO]') And xtype In (N'FN', N'IF', N'TF')) 
EXECUTE('Drop Function [FirstIO]')
GO
CREATE FUNCTION decDate (@Date as char(5))  
RETURNS char(5)
AS
BEGIN
  Declare @Month int, @Day int
  Set @Month = Cast(Substring(@Date, 1, 2) As int)
  Set @Day = Cast(Substring(@Date, 4, 2) As int)
  If @Day = 1
  Begin
    Set @Month = @Month - 1
    If @Month >= 7 Set @Day = 30 Else Set @Day = 31
  End
  Else
    Set @Day = @Day - 1
  Return Right('0' + Cast(@Month As varchar(2)), 2) + '/' + Right('0' + Cast(@Day As varchar(2)), 2)
END
GO
CREATE FUNCTION incDate (@Date as char(5))  
RETURNS char(5)
AS
BEGIN
  Declare @Month int, @Day int
  Set @Month = Cast(Substring(@Date, 1, 2) As int)
  Set @Day = Cast(Substring(@Date, 4, 2) As int)
  If (@Month > 6 And @Day = 30) Or (@Month <= 6 And @Day = 31)
  Begin
    Set @Month = @Month + 1
    Set @Day = 1
  End
  Else
    Set @Day = @Day + 1
  Return Right('0' + Cast(@Month As varchar(2)), 2) + '/' + Right('0' + Cast(@Day As varchar(2)), 2)
END
GO
CREATE FUNCTION dbo.FirstIO (@Perno char(10) , @minDateTime char(10) , @maxDateTime char(10)  )  
RETURNS char(10)
AS
BEGIN
  Declare @Result char(10)
  Select @Result = Min(BeginDateTime)
  From (Select substring(ClockDate,6,5)+ClockTime As BeginDateTime
        From ClockDmp
        Where (Perno = @Perno) And (io_type = 1) And (SPCardType = 0)
        Union All
        Select BeginDate+BeginTime As BeginDateTime
        From Att_1399..IoInfo
        Where Perno = @Perno) As IOs
  Where BeginDateTime >= @minDateTime  and BeginDateTime <= @maxDateTime
  Return @Result
END
GO
