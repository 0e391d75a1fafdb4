      * TCALLER: calls the program named in next program 1 (TWS when it
      * is blank) by name from COBOL - the run-time loads it from the
      * program path - and returns that program's return code.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. TCALLER.
       DATA DIVISION.
       WORKING-STORAGE SECTION.
       01  WS-NAME                 PIC X(10) VALUE "TWS".
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           IF CA-NEXT-PROGRAM-1 NOT = SPACES
               MOVE CA-NEXT-PROGRAM-1 TO WS-NAME
           END-IF
           CALL WS-NAME USING PX-COMMON-AREA
           GOBACK.
