      * TWS: counts its calls in WORKING-STORAGE; a fresh load starts at 1.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. TWS.
       DATA DIVISION.
       WORKING-STORAGE SECTION.
       01  WS-CALLS                PIC 9(6) VALUE 0.
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           ADD 1 TO WS-CALLS
           MOVE WS-CALLS TO CA-STATUS-VALUE
           MOVE WS-CALLS TO RETURN-CODE
           GOBACK.
