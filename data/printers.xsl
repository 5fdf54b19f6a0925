<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The report of one printer: its jobs broken down per user. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:include href="report-layout.xsl"/>
  <xsl:template match="/">
    <xsl:call-template name="report">
      <xsl:with-param name="scope" select="'printer'"/>
    </xsl:call-template>
  </xsl:template>
</xsl:stylesheet>
